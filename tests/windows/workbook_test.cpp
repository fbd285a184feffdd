// libxlsxwriter as scripts/xlsxwriter-mingw.sh builds it, run under wine:
// a workbook named in UTF-8 with Chinese, in a Chinese folder, or with the
// temporary folder named in Chinese (a Chinese user name on a system whose
// ANSI code page has no Chinese) must arrive under that name, whole, and
// leave nothing else behind.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <windows.h>
#include <xlsxwriter.h>

namespace {

struct test_case {
    const char* name;
    const wchar_t* folder;  // made first, when not empty
    const char8_t* file;    // as the program passes it: UTF-8
    const wchar_t* wide;    // the same name
    const wchar_t* temp;    // TMP and TEMP for the case, when not empty
};

const test_case cases[] = {
    {"chinese_name", L"", u8"学生名单.xlsx", L"学生名单.xlsx", L""},
    {"chinese_folder", L"导出", u8"导出\\学生.xlsx", L"导出\\学生.xlsx", L""},
    {"chinese_temp_folder", L"临时", u8"list.xlsx", L"list.xlsx", L"临时"},
};

int entries(const std::wstring& folder)
{
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &d);
    int n = 0;
    for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &d))
        n += d.cFileName[0] != L'.';
    FindClose(h);
    return n;
}

std::string written(const test_case& c);

// What is not so, or empty when all is well. TMP and TEMP stay changed.
std::string run(const test_case& c)
{
    if (*c.folder)
        CreateDirectoryW(c.folder, nullptr);
    if (*c.temp) {
        _wputenv_s(L"TMP", c.temp);
        _wputenv_s(L"TEMP", c.temp);
    }
    std::string why = written(c);
    DeleteFileW(c.wide);
    if (*c.folder)
        RemoveDirectoryW(c.folder);
    return why;
}

std::string written(const test_case& c)
{
    lxw_workbook* wb = workbook_new(reinterpret_cast<const char*>(c.file));
    if (!wb)
        return "workbook_new failed";
    const char* text = reinterpret_cast<const char*>(u8"张三");
    worksheet_write_string(workbook_add_worksheet(wb, nullptr), 0, 0, text, nullptr);
    if (lxw_error e = workbook_close(wb))
        return std::string("workbook_close: ") + lxw_strerror(e);
    char magic[4] = {};
    if (std::FILE* f = _wfopen(c.wide, L"rb")) {
        std::fread(magic, 1, 4, f);
        std::fclose(f);
    } else {
        return "no file under the wide name";
    }
    if (std::string(magic, 4) != std::string("PK\3\4", 4))
        return "not a zip file";
    int expected = 1 + (*c.folder != 0);
    if (entries(L".") + (*c.folder ? entries(c.folder) : 0) != expected)
        return "other files left beside it";
    return {};
}

} // namespace

int main()
{
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    int passed = 0, failed = 0;
    for (const test_case& c : cases) {
        // Each case in a new folder of its own, removed afterwards: wine
        // reuses process ids, and a failed run leaves its files behind.
        std::wstring dir;
        for (int k = 0; dir.empty() || !CreateDirectoryW(dir.c_str(), nullptr); ++k)
            dir = std::wstring(tmp) + L"student-workbook-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(k);
        SetCurrentDirectoryW(dir.c_str());
        std::string why = run(c);
        SetCurrentDirectoryW(tmp);
        RemoveDirectoryW(dir.c_str());
        (why.empty() ? passed : failed) += 1;
        std::printf("[%s] workbook.%s%s%s\n", why.empty() ? " OK " : "FAIL", c.name, why.empty() ? "" : ": ",
                    why.c_str());
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
