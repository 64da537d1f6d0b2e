// The release zip as a user gets it: unpacked into an empty folder, it holds
// this build's program, the simulated EC and the readme, and the program runs
// from there. The zip is read here, so the test runs the same under Wine and
// on Windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>

#include "tests/common/Harness.h"

namespace {

uint32_t Crc32(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A plain deflate decoder: stored, fixed and dynamic Huffman blocks. Any
// malformed input throws, and every entry's CRC is checked by the caller.
class Inflater {
  public:
    struct Bad {};

    Inflater(const unsigned char* in, size_t size) : m_in(in), m_size(size) {}

    std::string Run() {
        bool last;
        do {
            last = Bits(1) != 0;
            switch (Bits(2)) {
                case 0:
                    Stored();
                    break;
                case 1:
                    Fixed();
                    break;
                case 2:
                    Dynamic();
                    break;
                default:
                    throw Bad();
            }
        } while (!last);
        return m_out;
    }

  private:
    struct Huffman {
        uint16_t count[16];
        uint16_t symbol[288];
    };

    int Bits(int need) {
        uint32_t value = m_bitBuf;
        while (m_bitCount < need) {
            if (m_pos >= m_size) throw Bad();
            value |= static_cast<uint32_t>(m_in[m_pos++]) << m_bitCount;
            m_bitCount += 8;
        }
        m_bitBuf = value >> need;
        m_bitCount -= need;
        return static_cast<int>(value & ((1u << need) - 1));
    }

    void Stored() {
        m_bitBuf = 0;
        m_bitCount = 0;
        if (m_pos + 4 > m_size) throw Bad();
        unsigned len = m_in[m_pos] | m_in[m_pos + 1] << 8;
        unsigned nlen = m_in[m_pos + 2] | m_in[m_pos + 3] << 8;
        m_pos += 4;
        if (len != (~nlen & 0xFFFFu) || m_pos + len > m_size) throw Bad();
        m_out.append(reinterpret_cast<const char*>(m_in + m_pos), len);
        m_pos += len;
    }

    // Canonical code from code lengths; returns how many codes are left
    // unused (0 for a complete code).
    static int Build(Huffman& h, const uint8_t* length, int n) {
        for (uint16_t& c : h.count) c = 0;
        for (int s = 0; s < n; ++s) ++h.count[length[s]];
        if (h.count[0] == n) return 0;
        int left = 1;
        for (int len = 1; len < 16; ++len) {
            left = (left << 1) - h.count[len];
            if (left < 0) throw Bad();
        }
        uint16_t offs[16] = {};
        for (int len = 1; len < 15; ++len) offs[len + 1] = offs[len] + h.count[len];
        for (int s = 0; s < n; ++s) {
            if (length[s] != 0) h.symbol[offs[length[s]]++] = static_cast<uint16_t>(s);
        }
        return left;
    }

    int Decode(const Huffman& h) {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; ++len) {
            code |= Bits(1);
            int count = h.count[len];
            if (code - count < first) return h.symbol[index + (code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        throw Bad();
    }

    void Codes(const Huffman& lengths, const Huffman& distances) {
        static const uint16_t kLenBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                              15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                              67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const uint16_t kDistBase[30] = {
            1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
            193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        static const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        for (;;) {
            int sym = Decode(lengths);
            if (sym < 256) {
                m_out += static_cast<char>(sym);
                continue;
            }
            if (sym == 256) return;
            sym -= 257;
            if (sym >= 29) throw Bad();
            size_t len = kLenBase[sym] + Bits(kLenExtra[sym]);
            int dsym = Decode(distances);
            if (dsym >= 30) throw Bad();
            size_t dist = kDistBase[dsym] + Bits(kDistExtra[dsym]);
            if (dist > m_out.size()) throw Bad();
            // Byte by byte: a copy may overlap what it writes.
            for (size_t i = 0; i < len; ++i) m_out += m_out[m_out.size() - dist];
        }
    }

    void Fixed() {
        uint8_t length[288 + 30];
        int s = 0;
        for (; s < 144; ++s) length[s] = 8;
        for (; s < 256; ++s) length[s] = 9;
        for (; s < 280; ++s) length[s] = 7;
        for (; s < 288; ++s) length[s] = 8;
        for (; s < 288 + 30; ++s) length[s] = 5;
        Huffman lengths, distances;
        Build(lengths, length, 288);
        Build(distances, length + 288, 30);
        Codes(lengths, distances);
    }

    void Dynamic() {
        static const uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
        int nlen = Bits(5) + 257, ndist = Bits(5) + 1, ncode = Bits(4) + 4;
        if (nlen > 286 || ndist > 30) throw Bad();
        uint8_t length[320] = {};
        for (int i = 0; i < ncode; ++i) length[kOrder[i]] = static_cast<uint8_t>(Bits(3));
        Huffman codeLengths;
        if (Build(codeLengths, length, 19) != 0) throw Bad();
        int index = 0;
        while (index < nlen + ndist) {
            int sym = Decode(codeLengths);
            if (sym < 16) {
                length[index++] = static_cast<uint8_t>(sym);
                continue;
            }
            uint8_t repeated = 0;
            int times;
            if (sym == 16) {
                if (index == 0) throw Bad();
                repeated = length[index - 1];
                times = 3 + Bits(2);
            } else if (sym == 17) {
                times = 3 + Bits(3);
            } else {
                times = 11 + Bits(7);
            }
            if (index + times > nlen + ndist) throw Bad();
            while (times-- > 0) length[index++] = repeated;
        }
        if (length[256] == 0) throw Bad();
        Huffman lengths, distances;
        // An incomplete code is allowed only where it can still decode all
        // that is sent: a single length code, or at most one distance code.
        int left = Build(lengths, length, nlen);
        if (left > 0 && nlen - lengths.count[0] != 1) throw Bad();
        left = Build(distances, length + nlen, ndist);
        if (left > 0 && ndist - distances.count[0] != 1) throw Bad();
        Codes(lengths, distances);
    }

    const unsigned char* m_in;
    size_t m_size;
    size_t m_pos = 0;
    uint32_t m_bitBuf = 0;
    int m_bitCount = 0;
    std::string m_out;
};

uint32_t Le32(const std::string& d, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(d[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(d[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(d[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(d[at + 3])) << 24;
}
uint16_t Le16(const std::string& d, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(d[at]) |
                                 static_cast<unsigned char>(d[at + 1]) << 8);
}

// Every entry of a zip by name, through its central directory; adds a
// failure and returns what it has when the archive is damaged.
std::map<std::string, std::string> Unzip(const std::string& zip) {
    std::map<std::string, std::string> entries;
    size_t end = std::string::npos;
    if (zip.size() >= 22) {
        for (size_t at = zip.size() - 22 + 1; at-- > 0;) {
            if (Le32(zip, at) == 0x06054b50u) {
                end = at;
                break;
            }
        }
    }
    if (end == std::string::npos) {
        ADD_FAILURE() << "no end of central directory";
        return entries;
    }
    size_t count = Le16(zip, end + 10);
    size_t at = Le32(zip, end + 16);
    for (size_t i = 0; i < count; ++i) {
        if (at + 46 > zip.size() || Le32(zip, at) != 0x02014b50u) {
            ADD_FAILURE() << "damaged central directory entry " << i;
            return entries;
        }
        uint16_t method = Le16(zip, at + 10);
        uint32_t crc = Le32(zip, at + 16);
        uint32_t packed = Le32(zip, at + 20), size = Le32(zip, at + 24);
        uint16_t nameLen = Le16(zip, at + 28), extraLen = Le16(zip, at + 30),
                 commentLen = Le16(zip, at + 32);
        uint32_t local = Le32(zip, at + 42);
        std::string name = zip.substr(at + 46, nameLen);
        at += 46 + nameLen + extraLen + commentLen;

        if (local + 30 > zip.size() || Le32(zip, local) != 0x04034b50u) {
            ADD_FAILURE() << name << ": damaged local header";
            continue;
        }
        size_t data = local + 30 + Le16(zip, local + 26) + Le16(zip, local + 28);
        if (data + packed > zip.size()) {
            ADD_FAILURE() << name << ": data beyond the end";
            continue;
        }
        std::string contents;
        if (method == 0) {
            contents = zip.substr(data, packed);
        } else if (method == 8) {
            try {
                contents =
                    Inflater(reinterpret_cast<const unsigned char*>(zip.data()) + data, packed)
                        .Run();
            } catch (const Inflater::Bad&) {
                ADD_FAILURE() << name << ": bad deflate data";
                continue;
            }
        } else {
            ADD_FAILURE() << name << ": compression method " << method;
            continue;
        }
        EXPECT_EQ(contents.size(), size) << name;
        EXPECT_EQ(Crc32(contents), crc) << name;
        entries[name] = contents;
    }
    return entries;
}

bool FolderIsEmpty(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do {
        std::string name = fd.cFileName;
        if (name != "." && name != "..") empty = false;
    } while (empty && ::FindNextFileA(h, &fd));
    ::FindClose(h);
    return empty;
}

class ReleaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseOwnSimulatedEc();
        WrSimReset(6);
        WrSimFreeze(TRUE);
        WrSimLogClear();
        char tmp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, tmp);
        m_dir = std::string(tmp) + "vorlane-release-" + std::to_string(::GetCurrentProcessId());
        RemoveFolderTree(m_dir);
        ::CreateDirectoryA(m_dir.c_str(), nullptr);
    }
    void TearDown() override {
        app.reset();
        RemoveFolderTree(m_dir);
    }
    std::string m_dir;
    std::unique_ptr<VorlaneProcess> app;
};

TEST_F(ReleaseTest, UnpackedZipHoldsThisBuildAndTheProgramRunsFromIt) {
    const std::string zipPath = TestBinaryDir() + "\\" VORLANE_RELEASE_ZIP_NAME;
    std::string zip = ReadWholeFile(zipPath);
    ASSERT_FALSE(zip.empty()) << zipPath << " is missing: the normal build makes it";

    std::map<std::string, std::string> entries = Unzip(zip);
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.first);
    const std::vector<std::string> kNames = {"README-Windows.txt", "Vorlane.exe",
                                             "VorlaneGuard.exe", "WrRdIO.dll"};
    ASSERT_EQ(names, kNames);

    // The package holds the program and library built with it, not older ones.
    for (const char* name : {"Vorlane.exe", "VorlaneGuard.exe", "WrRdIO.dll"}) {
        EXPECT_TRUE(entries[name] == ReadWholeFile(TestBinaryDir() + "\\" + name)) << name;
    }

    // A Windows text file: every line ends in CR LF.
    const std::string& readme = entries["README-Windows.txt"];
    ASSERT_FALSE(readme.empty());
    size_t bareLf = 0, lines = 0;
    for (size_t i = 0; i < readme.size(); ++i) {
        if (readme[i] != '\n') continue;
        ++lines;
        if (i == 0 || readme[i - 1] != '\r') ++bareLf;
    }
    EXPECT_EQ(bareLf, 0u);
    EXPECT_EQ(readme.back(), '\n');
    EXPECT_GT(lines, 10u);
    // It tells how to put the maker's library in place and pick the variant.
    // It names the bitness of the program it comes with, and what a library of
    // the other bitness shows.
    const char* bits =
        sizeof(void*) == 8 ? "the program (64-bit Windows)" : "the program (32-bit Windows)";
    for (const char* must : {"_GetRegisterValue@36", "_SetRegisterValue@40", bits, "0xc000007b",
                             "[PLATFORM_TYPE]", "Value=1", "administrator"}) {
        EXPECT_NE(readme.find(must), std::string::npos) << must;
    }

    ASSERT_TRUE(FolderIsEmpty(m_dir));
    for (const auto& e : entries) {
        FILE* f = fopen((m_dir + "\\" + e.first).c_str(), "wb");
        ASSERT_NE(f, nullptr) << e.first;
        EXPECT_EQ(fwrite(e.second.data(), 1, e.second.size(), f), e.second.size());
        fclose(f);
    }

    WrSimPoke(0x9118, 57);
    WrSimPoke(0x9115, 31);
    WrSimPoke(0x1821, 0x04);
    WrSimPoke(0x1820, 0x36);
    WrSimPoke(0x1803, 42);
    const std::wstring dirW(m_dir.begin(), m_dir.end());
    app.reset(new VorlaneProcess(dirW + L"\\Vorlane.exe", dirW.c_str()));
    ASSERT_TRUE(app->Started()) << "error " << app->StartError();
    ASSERT_NE(app->WaitForMainWindow(), nullptr);
    EXPECT_TRUE(WaitFor(
        [&] {
            return app->Text(1001) == "57" && app->Text(1002) == "31" &&
                   app->Text(1003) == "2000" && app->Text(1004) == "42";
        },
        15000))
        << app->Text(1001) << " " << app->Text(1002) << " " << app->Text(1003) << " "
        << app->Text(1004);
    // Without data\Led.ini the first platform variant is used.
    std::vector<WRSIM_CALL> calls = CallsOf(app->Pid());
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].args[4], 6);

    ::PostMessageA(app->Item(1006), BM_CLICK, 0, 0);
    EXPECT_TRUE(app->WaitForExit());
}

}  // namespace
