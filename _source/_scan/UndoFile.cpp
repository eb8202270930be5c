#include "_scan/UndoFile.h"

#include "_scan/Sha256.h"
#include "_scan/Utf8.h"
#include "_win32/UniqueHandle.h"

#include <nlohmann/json.hpp>

#include <exception>

namespace brimlockscan {

using Corvane::Orlin::UniqueFile;
using tamselsvc::model::service::RegistryView;

namespace {

constexpr int kUndoVersion = 1;
constexpr DWORD kMaxUndoFile = 64u << 20; // far above what any machine's registrations make

const std::pair<RegistryView, const char*> kViews[] = {
    {RegistryView::Single, "single"}, {RegistryView::Native, "native"}, {RegistryView::Redirected32, "wow64-32"}};
const std::pair<DWORD, const char*> kTypes[] = {{REG_SZ, "REG_SZ"}, {REG_EXPAND_SZ, "REG_EXPAND_SZ"}};

// The document without its checksum, in one canonical form (object keys sorted).
std::string sealedText(const nlohmann::json& body)
{
    return body.dump();
}

template <typename Key, size_t N>
const char* nameOf(const std::pair<Key, const char*> (&table)[N], Key key)
{
    for (const auto& row : table) {
        if (row.first == key) {
            return row.second;
        }
    }
    return "";
}

template <typename Key, size_t N>
bool keyOf(const std::pair<Key, const char*> (&table)[N], const std::string& name, Key& key)
{
    for (const auto& row : table) {
        if (name == row.second) {
            key = row.first;
            return true;
        }
    }
    return false;
}

bool text(const nlohmann::json& object, const char* field, std::wstring& out)
{
    const auto found = object.find(field);
    return found != object.end() && found->is_string() && fromUtf8(found->get<std::string>(), out);
}

bool changeOf(const nlohmann::json& entry, UndoChange& change)
{
    if (!entry.is_object() || !text(entry, "key", change.place.key) || !text(entry, "name", change.place.name) ||
        !text(entry, "old", change.oldText) || !text(entry, "new", change.newText)) {
        return false;
    }
    const auto view = entry.find("view");
    const auto type = entry.find("type");
    return view != entry.end() && view->is_string() && keyOf(kViews, view->get<std::string>(), change.place.view) &&
           type != entry.end() && type->is_string() && keyOf(kTypes, type->get<std::string>(), change.type);
}

bool recordOf(const nlohmann::json& document, UndoRecord& record)
{
    if (!document.is_object() || document.value("version", 0) != kUndoVersion || !text(document, "machine", record.machine)) {
        return false;
    }
    const auto checksum = document.find("checksum");
    const auto changes = document.find("changes");
    if (checksum == document.end() || !checksum->is_string() || changes == document.end() || !changes->is_array()) {
        return false;
    }
    nlohmann::json body = document;
    body.erase("checksum");
    const std::string expected = sha256(sealedText(body));
    if (expected.empty() || expected != checksum->get<std::string>()) {
        return false;
    }
    for (const nlohmann::json& entry : *changes) {
        UndoChange change;
        if (!changeOf(entry, change)) {
            return false;
        }
        record.changes.push_back(std::move(change));
    }
    return true;
}

DWORD writeAll(const std::wstring& path, const std::string& bytes)
{
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return GetLastError();
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.get())) {
        return GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
}

} // namespace

std::wstring machineName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &length) ? std::wstring(name, length) : std::wstring();
}

DWORD writeUndoFile(const std::wstring& path, const UndoRecord& record)
{
    nlohmann::json changes = nlohmann::json::array();
    for (const UndoChange& change : record.changes) {
        changes.push_back({{"key", toUtf8(change.place.key)},
                           {"view", nameOf(kViews, change.place.view)},
                           {"name", toUtf8(change.place.name)},
                           {"type", nameOf(kTypes, change.type)},
                           {"old", toUtf8(change.oldText)},
                           {"new", toUtf8(change.newText)}});
    }
    nlohmann::json document = {{"version", kUndoVersion}, {"machine", toUtf8(record.machine)}, {"changes", changes}};
    const std::string checksum = sha256(sealedText(document));
    if (checksum.empty()) {
        return ERROR_INVALID_FUNCTION;
    }
    document["checksum"] = checksum;
    const std::wstring temporary = path + L".partial";
    DeleteFileW(temporary.c_str());
    DWORD error = writeAll(temporary, document.dump(2) + "\n");
    if (!error && !scanFixPorts().moveFileEx(temporary.c_str(), path.c_str(),
                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    }
    if (error) {
        DeleteFileW(temporary.c_str());
    }
    return error;
}

UndoFileState readUndoFile(const std::wstring& path, UndoRecord& record, DWORD& error)
{
    error = ERROR_SUCCESS;
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) {
        error = GetLastError();
        return UndoFileState::Unreadable;
    }
    if (size.QuadPart > kMaxUndoFile) {
        return UndoFileState::NotValid;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                           got != bytes.size())) {
        error = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
        return UndoFileState::Unreadable;
    }
    // A file that is no JSON at all is a fact of the input, not a fault of the program.
    const nlohmann::json document = nlohmann::json::parse(bytes, nullptr, false);
    UndoRecord read;
    if (document.is_discarded() || !recordOf(document, read)) {
        return UndoFileState::NotValid;
    }
    record = std::move(read);
    return UndoFileState::Usable;
}

} // namespace brimlockscan
