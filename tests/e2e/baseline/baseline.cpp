// The import baseline: a small program built with the same compiler, flags
// and static runtime as the updater, using the same kinds of C++ library
// parts (strings, vectors, heap, formatting). Whatever it imports comes from
// the runtime, not from the updater's own code; the import check judges only
// what the updater imports beyond it. Built with MORIVANE_E2E_UNFIT it is
// the check's negative control, which the check must reject.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    std::vector<std::string> words;
    std::string word;
    for (const char* p = commandLine; *p; ++p) {
        if (*p == ' ') {
            words.push_back(word);
            word.clear();
        } else {
            word += *p;
        }
    }
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[64]());
    if (!buffer) return 1;
    std::snprintf(buffer.get(), 64, "%u", static_cast<unsigned>(words.size()));
#ifdef MORIVANE_E2E_UNFIT
    // The negative control of the import check: a Unicode call of its own
    // and a call Windows 9x lacks.
    LARGE_INTEGER size;
    if (GetFileSizeEx(GetStdHandle(STD_INPUT_HANDLE), &size)) MessageBoxW(nullptr, L"", L"", MB_OK);
#endif
    return MessageBoxA(nullptr, buffer.get(), std::to_string(word.size()).c_str(), MB_OK) == IDOK
               ? 0
               : 2;
}
