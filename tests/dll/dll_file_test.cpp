// The built DLL files as a host's loader reads them, checked natively (no
// Wine, so on every machine, for x86 as for x86-64): the PE header of the
// architecture, exactly the three exports by name, and imports of Windows'
// own DLLs only, so that the DLL starts from any folder on a bare Windows.
//   dll_file_tests [--win64=path/to/kestrine.dll] [--win32=path/to/kestrine.dll]

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::string win64Dll;
std::string win32Dll;

// Little-endian fields read by offset: the reader needs no Windows header.
struct Bytes {
    std::vector<unsigned char> data;
    bool has(size_t offset, size_t size) const {
        return offset <= data.size() && data.size() - offset >= size;
    }
    uint32_t u16(size_t offset) const {
        return has(offset, 2) ? data[offset] | data[offset + 1] << 8 : 0;
    }
    uint32_t u32(size_t offset) const {
        return has(offset, 4) ? u16(offset) | u16(offset + 2) << 16 : 0;
    }
    std::string text(size_t offset) const {
        std::string s;
        while (offset < data.size() && data[offset] != 0) {
            s.push_back(static_cast<char>(data[offset++]));
        }
        return s;
    }
};

struct PeFile {
    bool valid = false;
    uint32_t machine = 0;
    uint32_t magic = 0;  // 0x10b PE32, 0x20b PE32+
    uint32_t exportedFunctions = 0;
    std::vector<std::string> exports;
    std::vector<std::string> imports;
};

constexpr uint32_t PE32 = 0x10b;
constexpr uint32_t PE32_PLUS = 0x20b;
constexpr uint32_t MACHINE_I386 = 0x14c;
constexpr uint32_t MACHINE_AMD64 = 0x8664;

// Reads the headers and the export and import directories; PE32 and PE32+
// differ only in where the data directories start.
PeFile readPe(const std::string& path) {
    PeFile pe;
    Bytes b;
    std::ifstream in(path, std::ios::binary);
    b.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (b.u16(0) != 0x5a4d) {  // "MZ"
        return pe;
    }
    const size_t nt = b.u32(0x3c);
    if (b.u32(nt) != 0x00004550) {  // "PE\0\0"
        return pe;
    }
    const size_t fileHeader = nt + 4;
    pe.machine = b.u16(fileHeader);
    const uint32_t sections = b.u16(fileHeader + 2);
    const size_t optional = fileHeader + 20;
    pe.magic = b.u16(optional);
    size_t directories = 0;
    if (pe.magic == PE32) {
        directories = optional + 96;
    } else if (pe.magic == PE32_PLUS) {
        directories = optional + 112;
    } else {
        return pe;
    }
    const size_t sectionTable = optional + b.u16(fileHeader + 16);
    const auto toOffset = [&](uint32_t rva) -> size_t {
        for (uint32_t i = 0; i < sections; ++i) {
            const size_t s = sectionTable + i * 40;
            const uint32_t address = b.u32(s + 12);
            const uint32_t extent = (std::max)(b.u32(s + 8), b.u32(s + 16));
            if (rva >= address && rva - address < extent) {
                return rva - address + b.u32(s + 20);
            }
        }
        return SIZE_MAX;
    };
    const size_t exportDir = toOffset(b.u32(directories));
    if (b.has(exportDir, 40)) {
        pe.exportedFunctions = b.u32(exportDir + 20);
        const uint32_t names = b.u32(exportDir + 24);
        const size_t nameTable = toOffset(b.u32(exportDir + 32));
        for (uint32_t i = 0; i < names && b.has(nameTable + i * 4, 4); ++i) {
            pe.exports.push_back(b.text(toOffset(b.u32(nameTable + i * 4))));
        }
    }
    for (size_t d = toOffset(b.u32(directories + 8)); b.has(d, 20) && b.u32(d + 12) != 0; d += 20) {
        pe.imports.push_back(b.text(toOffset(b.u32(d + 12))));
    }
    pe.valid = true;
    return pe;
}

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// What every Windows since 8 has in System32: no compiler runtime, nothing a
// user would have to put beside the DLL.
void expectLoadableAnywhere(const PeFile& pe) {
    const std::set<std::string> windowsOwn = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                              "gdiplus.dll",  "msvcrt.dll", "advapi32.dll",
                                              "ole32.dll",    "oleaut32.dll"};
    EXPECT_FALSE(pe.imports.empty());
    for (const std::string& import : pe.imports) {
        const std::string name = lower(import);
        EXPECT_TRUE(windowsOwn.count(name) == 1 || name.rfind("api-ms-win-", 0) == 0) << import;
    }
    EXPECT_EQ(pe.exports,
              (std::vector<std::string>{"CloseKestrine", "KestrineVersion", "ShowKestrine"}));
    EXPECT_EQ(pe.exportedFunctions, 3u);  // no exports by ordinal only
}

TEST(DllFile, each_build_is_of_its_architecture_with_the_three_exports_and_windows_imports) {
    struct Build {
        const char* name;
        const std::string& path;
        uint32_t machine;
        uint32_t magic;
    };
    const Build builds[] = {{"x86-64", win64Dll, MACHINE_AMD64, PE32_PLUS},
                            {"x86", win32Dll, MACHINE_I386, PE32}};
    // The cross builds pass both DLLs; a build on Windows passes its own.
    ASSERT_FALSE(win64Dll.empty() && win32Dll.empty()) << "give --win64= and/or --win32=";
    for (const Build& build : builds) {
        if (build.path.empty()) {
            continue;
        }
        SCOPED_TRACE(build.name);
        const PeFile pe = readPe(build.path);
        if (!pe.valid) {
            ADD_FAILURE() << "not a PE file: " << build.path;
            continue;
        }
        EXPECT_EQ(pe.machine, build.machine);
        EXPECT_EQ(pe.magic, build.magic);
        expectLoadableAnywhere(pe);
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--win64=", 8) == 0) {
            win64Dll = argv[i] + 8;
        } else if (std::strncmp(argv[i], "--win32=", 8) == 0) {
            win32Dll = argv[i] + 8;
        }
    }
    return RUN_ALL_TESTS();
}
