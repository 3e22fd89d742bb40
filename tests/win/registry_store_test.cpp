// The remembered folders in the registry: HKEY_LOCAL_MACHINE\SOFTWARE\VELDRIN\QUILLSTREAM, values
// "BIN_FILE" and "RSC_FILE" of type REG_SZ. The key is the station's own: the fixture puts back
// whatever values it held before the test. Under wine (CI) the registry is the wine prefix's;
// wine differs from Windows in one point, said where it shows.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "config/remembered_folders.h"

namespace {

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

struct RawValue {
    DWORD type = 0;
    std::vector<BYTE> data;
};

// The value as stored: its type and exactly the bytes counted in its length.
std::optional<RawValue> ReadRaw(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    RawValue value;
    DWORD size = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size);
    if (rc == ERROR_SUCCESS) {
        value.data.resize(size);
        rc = RegQueryValueExA(key, name, nullptr, &value.type, value.data.data(), &size);
        value.data.resize(size);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return std::nullopt;
    return value;
}

// Stores a value as another program might, its length given by the caller. A key made here gets
// the station's class, so putting values back leaves the key as the station would have made it.
bool WriteRaw(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRegKeyPath, 0, const_cast<char*>(kRegKeyClass),
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG rc = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool DeleteStoreKey() {
    const LONG rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRegKeyPath);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

std::string ClassOfStoreKey() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return "(no key)";
    }
    char text[256] = {};
    DWORD length = sizeof text;
    const LONG rc = RegQueryInfoKeyA(key, text, &length, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(text, length) : "(no class)";
}

class RegistryStore : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {kRegBinFile, kRegRscFile}) saved_.push_back(ReadRaw(name));
        // Writing under HKEY_LOCAL_MACHINE needs an administrator on Windows (wine allows it).
        if (!WriteRaw("PELOR_TEST_PROBE", REG_SZ, "", 0)) {
            GTEST_SKIP() << "no write access to HKEY_LOCAL_MACHINE\\" << kRegKeyPath;
        }
        DeleteValue("PELOR_TEST_PROBE");
    }
    void TearDown() override {
        const char* names[] = {kRegBinFile, kRegRscFile};
        for (std::size_t i = 0; i < saved_.size(); ++i) {
            if (saved_[i]) {
                WriteRaw(names[i], saved_[i]->type, saved_[i]->data.data(),
                         static_cast<DWORD>(saved_[i]->data.size()));
            } else {
                DeleteValue(names[i]);
            }
        }
    }
    static void DeleteValue(const char* name) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegKeyPath, 0, KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS) {
            return;
        }
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }

    std::vector<std::optional<RawValue>> saved_;
};

TEST_F(RegistryStore, TheFirstWriteCreatesTheKeyWithItsClassAndBothValuesReadBack) {
    ASSERT_TRUE(DeleteStoreKey());
    EXPECT_EQ(REG_ReadFolder(kRegBinFile), "");  // no key: empty, no failure
    ASSERT_EQ(REG_WriteFolder(kRegBinFile, "C:\\images\\WZRTAll"), 1);
    EXPECT_EQ(ClassOfStoreKey(), "Veldrin Unified Writer");
    ASSERT_EQ(REG_WriteFolder(kRegRscFile, "D:\\res\\VORODOV_rsc.bin"), 1);
    EXPECT_EQ(REG_ReadFolder(kRegBinFile), "C:\\images\\WZRTAll");
    EXPECT_EQ(REG_ReadFolder(kRegRscFile), "D:\\res\\VORODOV_rsc.bin");

    // A later pick replaces the value; a shorter one leaves nothing of the longer behind.
    ASSERT_EQ(REG_WriteFolder(kRegBinFile, "E:\\b"), 1);
    EXPECT_EQ(REG_ReadFolder(kRegBinFile), "E:\\b");
    EXPECT_EQ(REG_StoreLocation(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\VELDRIN\\QUILLSTREAM");
}

TEST_F(RegistryStore, ValuesAreRegSzCountingTheCharactersWithoutATerminator) {
    const std::string path = "C:\\Program Files\\bench 3\\images";
    ASSERT_EQ(REG_WriteFolder(kRegBinFile, path), 1);
    const auto raw = ReadRaw(kRegBinFile);
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(raw->type, static_cast<DWORD>(REG_SZ));
    const std::string stored(raw->data.begin(), raw->data.end());
    if (UnderWine()) {
        // wine stores a terminator whatever length RegSetValueExA is given.
        EXPECT_EQ(stored, path + '\0');
    } else {
        EXPECT_EQ(stored, path);  // no NUL counted
    }
}

TEST_F(RegistryStore, AValueStoredWithATerminatorReadsBackTheSame) {
    const char text[] = "C:\\from\\another\\tool";
    ASSERT_TRUE(WriteRaw(kRegRscFile, REG_SZ, text, sizeof text));  // NUL counted
    EXPECT_EQ(REG_ReadFolder(kRegRscFile), text);
    // Stored without one by another program as well.
    ASSERT_TRUE(WriteRaw(kRegRscFile, REG_SZ, text, sizeof text - 1));
    EXPECT_EQ(REG_ReadFolder(kRegRscFile), text);
}

TEST_F(RegistryStore, PathsLongerThan127CharactersAreStoredWhole) {
    std::string path = "C:\\";
    while (path.size() < 300) path += "a long folder name\\";
    ASSERT_EQ(REG_WriteFolder(kRegBinFile, path), 1);
    EXPECT_EQ(REG_ReadFolder(kRegBinFile), path);
}

TEST_F(RegistryStore, MissingValueOrBadNameReadsEmptyAndWritesNothing) {
    DeleteValue(kRegRscFile);
    EXPECT_EQ(REG_ReadFolder(kRegRscFile), "");
    EXPECT_EQ(REG_ReadFolder(nullptr), "");
    EXPECT_EQ(REG_WriteFolder(nullptr, "C:\\x"), 0);
    // An empty value is stored as such and reads back empty.
    ASSERT_EQ(REG_WriteFolder(kRegBinFile, ""), 1);
    EXPECT_EQ(REG_ReadFolder(kRegBinFile), "");
}

}  // namespace
