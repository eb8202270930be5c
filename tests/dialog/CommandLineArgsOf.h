#pragma once
// The dialog program's split command line, made from its items, as the tests hand it in.

#include "_dialog/NoticeArguments.h"

#include <string>
#include <utility>
#include <vector>

namespace dialog_test {

inline brimlockdlg::CommandLineArgs argsOf(std::vector<std::wstring> items)
{
    brimlockdlg::CommandLineArgs args;
    args.count = static_cast<int>(items.size());
    args.items = std::move(items);
    return args;
}

} // namespace dialog_test
