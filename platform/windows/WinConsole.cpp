// The console a command line runs in, on Windows.

#include "platform/windows/WinConsole.h"

#include "platform/Console.h"
#include "platform/windows/Win32.h"

#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace {

bool IsConsole(HANDLE h)
{
    DWORD mode = 0;
    return GetConsoleMode(h, &mode) != 0;
}

bool Usable(HANDLE h)
{
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
}

// A console is given UTF-16, so a name with "…" shows as typed whatever its
// code page; anything else gets the UTF-8 bytes unchanged.
void WriteText(DWORD which, std::string_view text)
{
    const HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || text.empty())
        return;
    if (IsConsole(h)) {
        const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
        for (size_t done = 0; done < wide.size();) {
            DWORD n = 0;
            if (!WriteConsoleW(h, wide.data() + done, static_cast<DWORD>(wide.size() - done), &n, nullptr) || n == 0)
                return;
            done += n;
        }
        return;
    }
    for (size_t done = 0; done < text.size();) {
        DWORD n = 0;
        if (!WriteFile(h, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr) || n == 0)
            return;
        done += n;
    }
}

// The length of text without a character the buffer's end cut in two: its
// first bytes wait for the rest, or a console would show two wrong ones.
size_t WholeCharacters(std::string_view text)
{
    for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for the lead
        const size_t needs = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return needs > back ? text.size() - back : text.size();
    }
    return text.size();
}

class TStandardBuffer : public std::streambuf {
public:
    explicit TStandardBuffer(DWORD which) : FWhich(which) { setp(FBuffer, FBuffer + sizeof FBuffer); }
    ~TStandardBuffer() override { Write(true); }

protected:
    int_type overflow(int_type c) override
    {
        Write(false);
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
        return c;
    }
    int sync() override
    {
        Write(false);
        return 0;
    }

private:
    void Write(bool all)
    {
        const std::string_view text(pbase(), static_cast<size_t>(pptr() - pbase()));
        const size_t whole = all ? text.size() : WholeCharacters(text);
        WriteText(FWhich, text.substr(0, whole));
        const std::string rest(text.substr(whole));
        setp(FBuffer, FBuffer + sizeof FBuffer);
        rest.copy(FBuffer, rest.size());
        pbump(static_cast<int>(rest.size()));
    }

    DWORD FWhich;
    char FBuffer[4096];
};

} // namespace

void UseParentConsole()
{
    const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE given[3];
    for (int i = 0; i < 3; ++i)
        given[i] = GetStdHandle(which[i]);
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    // Attaching may replace the handles: a redirected one stays redirected.
    for (int i = 0; i < 3; ++i) {
        HANDLE h = given[i];
        if (!Usable(h))
            h = CreateFileW(i == 0 ? L"CONIN$" : L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            SetStdHandle(which[i], h);
    }
}

std::ostream& StandardOutput()
{
    static TStandardBuffer buffer(STD_OUTPUT_HANDLE);
    static std::ostream stream(&buffer);
    return stream;
}

std::ostream& StandardError()
{
    static TStandardBuffer buffer(STD_ERROR_HANDLE);
    static std::ostream stream(&buffer);
    return stream;
}

bool StandardErrorIsTerminal()
{
    // A console answers GetConsoleMode; a file, a pipe or nothing does not.
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    return err != nullptr && err != INVALID_HANDLE_VALUE && IsConsole(err);
}

void WriteStandardError(std::string_view text)
{
    // A progress line that cannot be shown is no failure of the cut.
    StandardError().flush();
    WriteText(STD_ERROR_HANDLE, text);
}
