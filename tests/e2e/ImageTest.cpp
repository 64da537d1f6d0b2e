// The programs as files, as Windows sees them before any of their code runs:
// format, subsystem, imports, exports, manifest and version. Read, never run,
// so that a host that cannot execute 32-bit code still checks the 32-bit
// product beside the 64-bit one it tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "tests/common/Harness.h"

namespace {

// One PE file read whole; every lookup is bounds-checked, so a damaged file
// fails the test instead of the test process.
class PeFile {
  public:
    explicit PeFile(const std::string& path) : m_bytes(ReadWholeFile(path)) {
        IMAGE_DOS_HEADER dos;
        if (!Read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return;
        DWORD signature = 0;
        m_nt = static_cast<size_t>(dos.e_lfanew);
        if (!Read(m_nt, &signature) || signature != IMAGE_NT_SIGNATURE ||
            !Read(m_nt + 4, &m_file) || !Read(m_nt + 24, &m_magic)) {
            return;
        }
        const size_t optional = m_nt + 24;
        if (m_magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
            IMAGE_OPTIONAL_HEADER32 h;
            if (!Read(optional, &h)) return;
            m_subsystem = h.Subsystem;
            std::memcpy(m_dirs, h.DataDirectory, sizeof(m_dirs));
        } else if (m_magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
            IMAGE_OPTIONAL_HEADER64 h;
            if (!Read(optional, &h)) return;
            m_subsystem = h.Subsystem;
            std::memcpy(m_dirs, h.DataDirectory, sizeof(m_dirs));
        } else {
            return;
        }
        const size_t sections = optional + m_file.SizeOfOptionalHeader;
        for (WORD i = 0; i < m_file.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER s;
            if (!Read(sections + i * sizeof(s), &s)) return;
            m_sections.push_back(s);
        }
        m_valid = true;
    }

    bool Valid() const { return m_valid; }
    WORD Machine() const { return m_file.Machine; }
    WORD Magic() const { return m_magic; }
    WORD Subsystem() const { return m_subsystem; }

    // Imported DLL -> the names imported from it ("#n" for an ordinal).
    std::map<std::string, std::vector<std::string>> Imports() const {
        std::map<std::string, std::vector<std::string>> result;
        const bool wide = m_magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
        size_t at = Offset(m_dirs[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
        IMAGE_IMPORT_DESCRIPTOR d;
        for (; at != 0 && Read(at, &d) && d.Name != 0; at += sizeof(d)) {
            std::vector<std::string>& names = result[String(d.Name)];
            const DWORD thunks = d.OriginalFirstThunk != 0 ? d.OriginalFirstThunk : d.FirstThunk;
            for (size_t t = Offset(thunks);; t += wide ? 8 : 4) {
                unsigned long long thunk = 0;
                if (t == 0 || !Read(t, &thunk, wide ? 8 : 4) || thunk == 0) break;
                const bool byOrdinal = (thunk >> (wide ? 63 : 31)) & 1;
                names.push_back(byOrdinal ? "#" + std::to_string(thunk & 0xFFFF)
                                          : String(static_cast<DWORD>(thunk) + 2));
            }
        }
        return result;
    }

    std::set<std::string> ExportNames() const {
        std::set<std::string> names;
        IMAGE_EXPORT_DIRECTORY e;
        const size_t at = Offset(m_dirs[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
        if (at == 0 || !Read(at, &e)) return names;
        for (DWORD i = 0; i < e.NumberOfNames; ++i) {
            DWORD rva = 0;
            if (!Read(Offset(e.AddressOfNames) + i * 4, &rva)) break;
            names.insert(String(rva));
        }
        return names;
    }

  private:
    template <typename T>
    bool Read(size_t at, T* out, size_t size = sizeof(T)) const {
        if (at > m_bytes.size() || m_bytes.size() - at < size) return false;
        std::memcpy(out, m_bytes.data() + at, size);
        return true;
    }
    size_t Offset(DWORD rva) const {
        for (const IMAGE_SECTION_HEADER& s : m_sections) {
            if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.SizeOfRawData) {
                return s.PointerToRawData + (rva - s.VirtualAddress);
            }
        }
        return 0;
    }
    std::string String(DWORD rva) const {
        const size_t at = Offset(rva);
        if (at == 0) return std::string();
        const size_t end = m_bytes.find('\0', at);
        return end == std::string::npos ? std::string() : m_bytes.substr(at, end - at);
    }

    std::string m_bytes;
    size_t m_nt = 0;
    IMAGE_FILE_HEADER m_file = {};
    WORD m_magic = 0;
    WORD m_subsystem = 0;
    IMAGE_DATA_DIRECTORY m_dirs[IMAGE_NUMBEROF_DIRECTORY_ENTRIES] = {};
    std::vector<IMAGE_SECTION_HEADER> m_sections;
    bool m_valid = false;
};

struct Build {
    const char* folder;  // relative to this test's folder
    WORD machine;
    WORD magic;
};

// This test's own build, and from the 64-bit tree the 32-bit product beside it.
const Build kBuilds[] = {
#ifdef _WIN64
    {".", IMAGE_FILE_MACHINE_AMD64, IMAGE_NT_OPTIONAL_HDR64_MAGIC},
    {"..\\win32", IMAGE_FILE_MACHINE_I386, IMAGE_NT_OPTIONAL_HDR32_MAGIC},
#else
    {".", IMAGE_FILE_MACHINE_I386, IMAGE_NT_OPTIONAL_HDR32_MAGIC},
#endif
};

bool IsSystemDll(const std::string& name) {
    char dir[MAX_PATH];
    const UINT n = ::GetSystemDirectoryA(dir, MAX_PATH);
    return n > 0 && n < MAX_PATH &&
           ::GetFileAttributesA((std::string(dir) + "\\" + name).c_str()) !=
               INVALID_FILE_ATTRIBUTES;
}

const std::vector<std::string> kEcNames = {"_GetRegisterValue@36", "_SetRegisterValue@40"};

TEST(ImageTest, ProgramAndLibraryAreWhatWindowsAndAMakersLibraryExpect) {
    for (const Build& build : kBuilds) {
        SCOPED_TRACE(build.folder);
        const std::string dir = TestBinaryDir() + "\\" + build.folder;
        PeFile exe(dir + "\\Vorlane.exe");
        ASSERT_TRUE(exe.Valid()) << "no readable Vorlane.exe";
        EXPECT_EQ(exe.Machine(), build.machine);
        EXPECT_EQ(exe.Magic(), build.magic);
        EXPECT_EQ(exe.Subsystem(), IMAGE_SUBSYSTEM_WINDOWS_GUI);

        // Windows' own DLLs, and from WrRdIO.dll exactly the two calls, by name:
        // a runtime DLL of the compiler would have to ship beside the program.
        bool sawLibrary = false;
        for (const auto& dll : exe.Imports()) {
            if (lstrcmpiA(dll.first.c_str(), "WrRdIO.dll") == 0) {
                sawLibrary = true;
                EXPECT_EQ(dll.first, "WrRdIO.dll");
                std::vector<std::string> names = dll.second;
                std::sort(names.begin(), names.end());
                EXPECT_EQ(names, kEcNames);
            } else {
                EXPECT_TRUE(IsSystemDll(dll.first)) << dll.first << " is not a Windows DLL";
            }
        }
        EXPECT_TRUE(sawLibrary);

        // The guardian loads the library by name only when it must write.
        PeFile guard(dir + "\\VorlaneGuard.exe");
        ASSERT_TRUE(guard.Valid());
        EXPECT_EQ(guard.Machine(), build.machine);
        EXPECT_EQ(guard.Subsystem(), IMAGE_SUBSYSTEM_WINDOWS_GUI);
        for (const auto& dll : guard.Imports()) EXPECT_TRUE(IsSystemDll(dll.first)) << dll.first;

        // The stand-in offers the same two names, and otherwise only its test controls.
        PeFile dll(dir + "\\WrRdIO.dll");
        ASSERT_TRUE(dll.Valid());
        EXPECT_EQ(dll.Machine(), build.machine);
        std::set<std::string> exports = dll.ExportNames();
        for (const std::string& name : kEcNames) EXPECT_EQ(exports.erase(name), 1u) << name;
        for (const std::string& name : exports) EXPECT_EQ(name.rfind("WrSim", 0), 0u) << name;

        // Manifest and version, through the resource loader, which reads an
        // image of either architecture as data.
        HMODULE hExe = ::LoadLibraryExA((dir + "\\Vorlane.exe").c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(hExe, nullptr) << ::GetLastError();
        HRSRC hRes = ::FindResourceA(hExe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
        ASSERT_NE(hRes, nullptr) << "no manifest";
        const char* text = static_cast<const char*>(::LockResource(::LoadResource(hExe, hRes)));
        const std::string manifest(text, ::SizeofResource(hExe, hRes));
        ::FreeLibrary(hExe);
        EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
        EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);

        const std::string exePath = dir + "\\Vorlane.exe";
        std::vector<char> info(::GetFileVersionInfoSizeA(exePath.c_str(), nullptr));
        ASSERT_FALSE(info.empty());
        ASSERT_TRUE(::GetFileVersionInfoA(exePath.c_str(), 0, static_cast<DWORD>(info.size()),
                                          info.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        char* version = nullptr;
        UINT len = 0;
        ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
        ASSERT_TRUE(::VerQueryValueA(info.data(), "\\StringFileInfo\\040904b0\\FileVersion",
                                     reinterpret_cast<void**>(&version), &len));
        EXPECT_STREQ(version, VORLANE_VERSION);
        char fromFixed[64];
        snprintf(fromFixed, sizeof(fromFixed), "%lu.%lu.%lu.%lu", fixed->dwFileVersionMS >> 16,
                 fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
                 fixed->dwFileVersionLS & 0xFFFF);
        EXPECT_STREQ(fromFixed, VORLANE_VERSION);
    }
}

}  // namespace
