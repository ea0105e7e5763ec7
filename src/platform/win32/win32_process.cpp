// Paths, the environment, child programs and the file-selection dialog.
#include <cstdlib>

#include "platform/win32/win32_internal.hpp"
#include "platform/win32/win32_rules.hpp"
// The dialog declarations need the base types of windows.h first.
#include <commdlg.h>

namespace platform::win32 {
namespace {

int run_and_wait(const std::wstring& program, std::wstring command_line) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.empty() ? nullptr : program.c_str(), command_line.data(), nullptr,
                          nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    Handle thread(process.hThread);
    Handle child(process.hProcess);
    ::WaitForSingleObject(child.get(), INFINITE);
    DWORD code = 0;
    if (!::GetExitCodeProcess(child.get(), &code)) return -1;
    return static_cast<int>(code);
}

// The variable through which the shell receives the file argument.
constexpr const wchar_t* file_variable = L"FILARIX64_FILE_ARGUMENT";

}  // namespace

std::optional<std::u16string> Win32System::full_path(std::u16string_view path) {
    if (path.empty()) return std::nullopt;
    const std::wstring p = to_w(path);
    return fill_wide([&](wchar_t* buffer, DWORD size) {
        return ::GetFullPathNameW(p.c_str(), size, buffer, nullptr);
    });
}

std::u16string Win32System::executable_path() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return from_w(buffer.data(), n);
        buffer.assign(buffer.size() * 2, L'\0');
    }
    return {};
}

std::optional<std::u16string> Win32System::current_directory() {
    return fill_wide(
        [](wchar_t* buffer, DWORD size) { return ::GetCurrentDirectoryW(size, buffer); });
}

std::optional<std::u16string> Win32System::search_path(std::u16string_view name,
                                                       std::u16string_view extension) {
    if (name.empty()) return std::nullopt;
    const std::wstring n = to_w(name);
    const std::wstring e = to_w(extension);
    return fill_wide([&](wchar_t* buffer, DWORD size) {
        return ::SearchPathW(nullptr, n.c_str(), e.empty() ? nullptr : e.c_str(), size, buffer,
                             nullptr);
    });
}

std::optional<std::u16string> Win32System::computer_name() {
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(buffer, &size)) return std::nullopt;
    return from_w(buffer, size);
}

std::optional<std::u16string> Win32System::get_env(std::u16string_view name) {
    const std::wstring n = to_w(name);
    std::wstring buffer(256, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD got =
            ::GetEnvironmentVariableW(n.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::u16string();  // set, but empty
        }
        if (got < buffer.size()) return from_w(buffer.data(), got);
        buffer.assign(got + 1, L'\0');
    }
    return std::nullopt;
}

int Win32System::run_shell(const std::vector<std::u16string>& parts) {
    // Each argument reaches the interpreter through a variable of its own,
    // inside double quotes: it is expanded once, after the command line has
    // been split, so "&", "|", "^" or "%" in a name cannot start a command
    // or expand a variable, and a Windows name cannot hold a double quote.
    std::vector<std::wstring> names;
    std::wstring command = L"\"";  // the interpreter strips the outer pair
    bool set = true;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i % 2 == 0) {
            command += to_w(parts[i]);
            continue;
        }
        names.push_back(std::wstring(file_variable) + std::to_wstring(names.size() + 1));
        set = set && ::SetEnvironmentVariableW(names.back().c_str(), to_w(parts[i]).c_str());
        command += L"\"%" + names.back() + L"%\"";
    }
    command += L'"';
    const int code = set ? ::_wsystem(command.c_str()) : -1;
    for (const auto& name : names) ::SetEnvironmentVariableW(name.c_str(), nullptr);
    return code;
}

int Win32System::spawn(std::u16string_view program, const std::vector<std::u16string>& args) {
    const std::wstring path = to_w(program);
    if (path.empty()) return -1;
    std::u16string line;
    append_command_argument(line, program);
    for (const auto& arg : args) {
        line += u' ';
        append_command_argument(line, arg);
    }
    return run_and_wait(path, to_w(line));
}

std::optional<std::u16string> Win32System::choose_file(DialogKind kind) {
    std::wstring buffer(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.lpstrFilter = L"All Files (*.*)\0*.*\0";
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrTitle =
        kind == DialogKind::output_file ? L"Output File Selection" : L"Input File Selection";
    if (kind == DialogKind::input_file) ofn.lpstrDefExt = L"DAT";
    // The dialog must not move the current directory: relative start paths
    // and output names are resolved against it afterwards.
    ofn.Flags = OFN_NOCHANGEDIR | (kind == DialogKind::input_file ? OFN_FILEMUSTEXIST : 0);
    if (!::GetOpenFileNameW(&ofn)) return std::nullopt;
    const std::u16string chosen = from_w(buffer.c_str());
    if (chosen.empty()) return std::nullopt;
    return chosen;
}

}  // namespace platform::win32
