#include "winui/ErrorBox.h"

#include "common/Exceptions.h"
#include "platform/windows/Win32.h"
#include "platform/windows/WinText.h"

namespace winui {

namespace {

ErrorReportHook& Hook()
{
    static ErrorReportHook hook;
    return hook;
}

HWND& Owner()
{
    static HWND owner = nullptr;
    return owner;
}

int& ShowingDepth()
{
    static int depth = 0;
    return depth;
}

} // namespace

void SetErrorReportHook(ErrorReportHook hook)
{
    Hook() = std::move(hook);
}

void SetErrorReportOwner(void* window)
{
    Owner() = static_cast<HWND>(window);
}

void* ErrorReportOwner()
{
    return Owner();
}

bool ErrorReportShowing()
{
    return ShowingDepth() > 0;
}

void ShowErrorReport(const std::string& message)
{
    const std::string text = ErrorReportText(message);
    struct Depth {
        Depth() { ++ShowingDepth(); }
        ~Depth() { --ShowingDepth(); }
    } depth;
    if (Hook()) {
        Hook()(ApplicationTitle, text);
        return;
    }
    const HWND owner = Owner() && IsWindow(Owner()) ? Owner() : nullptr;
    MessageBoxW(owner, Wide(text).c_str(), Wide(ApplicationTitle).c_str(), MB_OK | MB_ICONSTOP);
}

} // namespace winui
