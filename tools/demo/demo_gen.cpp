// morivane_demo_gen: writes the demo product's generated content.
//   morivane_demo_gen data DIR
//       DIR/old/dat/Iobjectc.til ... DIR/new/dat/Iobjecth.til
//   morivane_demo_gen resource NEW_SIZE OLD_FILE NEW_FILE
//       the executable's bulk resource for the old and the new build
// Each file is written to a temporary name and renamed when complete, so an
// interrupted run never leaves a file that looks up to date.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/demo/demo_content.h"

namespace {

namespace fs = std::filesystem;
using morivane::demo::Bytes;

bool WriteFile(const fs::path& path, const Bytes& bytes) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    const fs::path temp = path.string() + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::fprintf(stderr, "morivane_demo_gen: cannot write %s\n", temp.c_str());
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, path, ec);
    if (ec) {
        std::fprintf(stderr, "morivane_demo_gen: cannot rename %s to %s: %s\n", temp.c_str(),
                     path.c_str(), ec.message().c_str());
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: morivane_demo_gen data DIR\n"
                 "       morivane_demo_gen resource NEW_SIZE OLD_FILE NEW_FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "data") {
        const fs::path dir = argv[2];
        for (const auto& file : morivane::demo::DataFiles()) {
            const std::string path = morivane::demo::PathOf(file.row);
            if (!WriteFile(dir / "old" / path, file.oldBytes) ||
                !WriteFile(dir / "new" / path, file.newBytes)) {
                return 1;
            }
        }
        return 0;
    }
    if (argc == 5 && std::string(argv[1]) == "resource") {
        char* end = nullptr;
        const unsigned long size = std::strtoul(argv[2], &end, 10);
        if (*end != '\0' || size < 64 * 1024 || size > 64ul * 1024 * 1024) return Usage();
        const auto resource = morivane::demo::ExecutableResource(size);
        return WriteFile(argv[3], resource.oldBytes) && WriteFile(argv[4], resource.newBytes) ? 0
                                                                                              : 1;
    }
    return Usage();
}
