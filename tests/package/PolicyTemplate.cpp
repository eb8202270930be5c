#include "PolicyTemplate.h"

#include "MessageBoxProbe.h"

#include <msxml2.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdlib>

namespace brimlock_test {

namespace {

using Microsoft::WRL::ComPtr;

// IID_IXMLDOMDocument, spelt out so that no import library of the SDK is needed for it.
constexpr IID kIidXmlDomDocument = {0x2933bf81, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

class ComApartment {
public:
    ComApartment() : _result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(_result)) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT _result;
};

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : _value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr() = default;
    ~Bstr() { SysFreeString(_value); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return _value; }
    BSTR* put()
    {
        SysFreeString(_value);
        _value = nullptr;
        return &_value;
    }
    std::wstring text() const { return _value ? std::wstring(_value, SysStringLen(_value)) : std::wstring(); }

private:
    BSTR _value = nullptr;
};

std::wstring localName(IXMLDOMNode* node)
{
    Bstr name;
    node->get_baseName(name.put());
    return name.text();
}

std::wstring attribute(IXMLDOMNode* node, const wchar_t* name)
{
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    ComPtr<IXMLDOMNode> item;
    Bstr text;
    const Bstr key(name);
    if (SUCCEEDED(node->get_attributes(&attributes)) && attributes &&
        attributes->getNamedItem(key.get(), &item) == S_OK && item) {
        item->get_text(text.put());
    }
    return text.text();
}

// Element children of `node` with the local name `name`, in document order.
std::vector<ComPtr<IXMLDOMNode>> children(IXMLDOMNode* node, const wchar_t* name)
{
    std::vector<ComPtr<IXMLDOMNode>> found;
    ComPtr<IXMLDOMNodeList> list;
    if (FAILED(node->get_childNodes(&list)) || !list) {
        return found;
    }
    long count = 0;
    list->get_length(&count);
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> child;
        DOMNodeType type = NODE_INVALID;
        if (list->get_item(i, &child) == S_OK && child && SUCCEEDED(child->get_nodeType(&type)) &&
            type == NODE_ELEMENT && localName(child.Get()) == name) {
            found.push_back(child);
        }
    }
    return found;
}

// <enabledValue> or <disabledValue>: its <decimal value="..."/>.
bool decimalOf(IXMLDOMNode* policy, const wchar_t* which, DWORD& value)
{
    for (const auto& holder : children(policy, which)) {
        for (const auto& decimal : children(holder.Get(), L"decimal")) {
            const std::wstring text = attribute(decimal.Get(), L"value");
            wchar_t* end = nullptr;
            const unsigned long number = std::wcstoul(text.c_str(), &end, 10);
            if (!text.empty() && end && *end == L'\0') {
                value = static_cast<DWORD>(number);
                return true;
            }
        }
    }
    return false;
}

} // namespace

std::vector<PolicySetting> readPolicyTemplate(const std::wstring& path, std::string& error)
{
    std::vector<PolicySetting> policies;
    ComApartment apartment;
    CLSID parser{};
    if (FAILED(CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &parser)) &&
        FAILED(CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &parser))) {
        error = "no MSXML parser is registered";
        return policies;
    }
    ComPtr<IXMLDOMDocument> document;
    HRESULT result = CoCreateInstance(parser, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument,
                                      reinterpret_cast<void**>(document.GetAddressOf()));
    if (FAILED(result)) {
        error = "CoCreateInstance of the XML parser failed with " + std::to_string(result);
        return policies;
    }
    document->put_async(VARIANT_FALSE);
    Bstr file(path);
    VARIANT source;
    VariantInit(&source);
    V_VT(&source) = VT_BSTR;
    V_BSTR(&source) = file.get();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(document->load(source, &loaded)) || loaded != VARIANT_TRUE) {
        ComPtr<IXMLDOMParseError> parseError;
        Bstr reason;
        if (SUCCEEDED(document->get_parseError(&parseError)) && parseError) {
            parseError->get_reason(reason.put());
        }
        error = "cannot load " + toUtf8(path) + ": " + toUtf8(reason.text());
        return policies;
    }
    ComPtr<IXMLDOMElement> root;
    if (FAILED(document->get_documentElement(&root)) || !root || localName(root.Get()) != L"policyDefinitions") {
        error = toUtf8(path) + " is not a policy template (no <policyDefinitions>)";
        return policies;
    }
    for (const auto& group : children(root.Get(), L"policies")) {
        for (const auto& node : children(group.Get(), L"policy")) {
            PolicySetting policy;
            policy.name = attribute(node.Get(), L"name");
            policy.policyClass = attribute(node.Get(), L"class");
            policy.key = attribute(node.Get(), L"key");
            policy.valueName = attribute(node.Get(), L"valueName");
            policy.hasEnabledValue = decimalOf(node.Get(), L"enabledValue", policy.enabledValue);
            policy.hasDisabledValue = decimalOf(node.Get(), L"disabledValue", policy.disabledValue);
            policies.push_back(policy);
        }
    }
    return policies;
}

} // namespace brimlock_test
