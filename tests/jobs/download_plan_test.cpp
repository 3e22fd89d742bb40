// What a Download writes into the image tables: the checks of the operator's choices, which
// slots each option fills with which path and address, and the refusals that start nothing.
#include "jobs/download_plan.h"

#include <gtest/gtest.h>

#include <set>

#include "jobs/address_text.h"
#include "jobs/job_test_util.h"

using namespace jobs_test;

namespace {

DownloadControls Code(const char* address) {
    DownloadControls c;
    c.codeChecked = true;
    c.codeAddressText = address;
    return c;
}

std::set<int> FilledSlots(int channel) {
    std::set<int> out;
    for (int slot = 0; slot < kSlots; ++slot) {
        if (g_ImageTable[channel][slot].szPath[0] != '\0') out.insert(slot);
    }
    return out;
}

bool AllCleared() {
    for (int ch = 0; ch < kChannels; ++ch) {
        for (const IMAGE_ENTRY& e : g_ImageTable[ch]) {
            if (e.nSlot != -1 || e.szPath[0] != '\0') return false;
        }
    }
    return true;
}

// Every channel gets the same table.
void ExpectChannelsAlike() {
    for (int ch = 1; ch < kChannels; ++ch) {
        for (int slot = 0; slot < kSlots; ++slot) {
            EXPECT_STREQ(g_ImageTable[ch][slot].szPath, g_ImageTable[0][slot].szPath);
            EXPECT_EQ(g_ImageTable[ch][slot].dwAddress, g_ImageTable[0][slot].dwAddress);
        }
    }
}

}  // namespace

TEST(DownloadPlan, NothingSelectedAsksForAnImage) {
    JobGuard guard;
    PELOR_SetImage(12, "stale.mbn", "0");
    std::string message;
    EXPECT_EQ(PELOR_FillImages(DownloadControls{}, &message), DOWNLOAD_REFUSED);
    EXPECT_EQ(message, "Select Image !");
    EXPECT_TRUE(AllCleared());
}

TEST(DownloadPlan, CodeWithoutFolderOrAddressIsInvalid) {
    JobGuard guard;
    TempDir dir;
    MakeCodeFolder(dir, "WZRTAll");
    std::string message;
    EXPECT_EQ(PELOR_FillImages(Code(""), &message), DOWNLOAD_REFUSED);
    EXPECT_EQ(message, "Invalid Code Image/Address !");
    EXPECT_TRUE(AllCleared());

    g_szCodeFile[0] = '\0';
    message.clear();
    EXPECT_EQ(PELOR_FillImages(Code("70000"), &message), DOWNLOAD_REFUSED);
    EXPECT_EQ(message, "Invalid Code Image/Address !");
    EXPECT_TRUE(AllCleared());
}

TEST(DownloadPlan, OptionsChooseTheSlots) {
    struct Case {
        int boot, eraseAll, eraseNand;
        std::set<int> slots;
    };
    for (const Case& c :
         {Case{0, 0, 0, {4, 5, 11, 12}}, Case{0, 1, 0, {0, 4, 5, 11, 12}},
          Case{0, 0, 1, {3, 4, 5, 11, 12}}, Case{1, 1, 1, {0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
          Case{1, 0, 0, {4, 5, 6, 7, 8, 9, 10, 11, 12}}}) {
        SCOPED_TRACE(testing::Message()
                     << "boot " << c.boot << " all " << c.eraseAll << " nand " << c.eraseNand);
        JobGuard guard;
        TempDir dir;
        MakeCodeFolder(dir, "WZRTAll");
        g_bChangeBootArea = c.boot;
        g_bEraseAllNand = c.eraseAll;
        g_bEraseNand = c.eraseNand;
        ASSERT_EQ(PELOR_FillImages(Code("70000"), nullptr), DOWNLOAD_READY);
        EXPECT_EQ(FilledSlots(0), c.slots);
        ExpectChannelsAlike();
    }
}

TEST(DownloadPlan, PathsComeFromTheFolderAndItsNameAndAddressesFromTheirTexts) {
    JobGuard guard;
    TempDir dir;
    const std::string folder = MakeCodeFolder(dir, "WZRTAll");
    g_bChangeBootArea = 1;
    g_bEraseNand = 1;
    SETTINGS_CopyText(g_szCodeAddress, "18000");
    ASSERT_EQ(PELOR_FillImages(Code("70000"), nullptr), DOWNLOAD_READY);

    const auto& t = g_ImageTable[0];
    EXPECT_STREQ(t[3].szPath, "Dummy");
    EXPECT_STREQ(t[4].szPath, "Dummy");
    EXPECT_EQ(t[5].szPath, folder + "/partition.mbn");
    EXPECT_EQ(t[6].szPath, folder + "/pbl.mbn");
    EXPECT_EQ(t[7].szPath, folder + "/qcsblhd_cfgdata.mbn");
    EXPECT_EQ(t[8].szPath, folder + "/qcsbl.mbn");
    EXPECT_EQ(t[9].szPath, folder + "/oemsblhd.mbn");
    EXPECT_EQ(t[10].szPath, folder + "/oemsbl.mbn");
    EXPECT_EQ(t[11].szPath, folder + "/WZRTAllhd.mbn");
    EXPECT_EQ(t[12].szPath, folder + "/WZRTAll.mbn");
    // The request-only slots take the address text current before the edit's is read.
    EXPECT_EQ(t[3].dwAddress, 0x18000u);
    EXPECT_EQ(t[4].dwAddress, 0x18000u);
    for (int slot = 5; slot <= 12; ++slot) EXPECT_EQ(t[slot].dwAddress, 0x70000u) << slot;
    EXPECT_STREQ(g_szCodeAddress, "70000");
    EXPECT_EQ(std::string(g_szImagePath), folder + "/WZRTAll.mbn");
}

TEST(DownloadPlan, FolderEndingInASeparatorGivesDoubledSeparators) {
    JobGuard guard;
    TempDir dir;
    const std::string folder = MakeCodeFolder(dir, "WZRTAll") + "/";
    // The base name of such a folder is the separator alone: the AMSS image is "/.mbn" in it.
    ASSERT_TRUE(WriteBytes(folder + ".mbn", Pattern(100, 1)));
    SETTINGS_CopyText(g_szCodeFile, folder);
    SETTINGS_SplitCodePath();
    ASSERT_EQ(PELOR_FillImages(Code("0"), nullptr), DOWNLOAD_READY);
    EXPECT_EQ(g_ImageTable[0][5].szPath, folder + "/partition.mbn");
    EXPECT_EQ(g_ImageTable[0][11].szPath, folder + "/hd.mbn");
    EXPECT_EQ(g_ImageTable[0][12].szPath, folder + "/.mbn");
}

TEST(DownloadPlan, MissingAmssOrResourceImageStartsNothing) {
    JobGuard guard;
    TempDir dir;
    const std::string folder = MakeCodeFolder(dir, "WZRTAll");
    std::string message;

    std::filesystem::rename(folder + "/WZRTAll.mbn", folder + "/moved.mbn");
    EXPECT_EQ(PELOR_FillImages(Code("70000"), &message), DOWNLOAD_NO_FILE);
    EXPECT_EQ(message, "ERR: No File");
    EXPECT_TRUE(AllCleared());
    std::filesystem::rename(folder + "/moved.mbn", folder + "/WZRTAll.mbn");

    DownloadControls both = Code("70000");
    both.resourceChecked = true;
    both.resourceAddressText = "0";
    SETTINGS_CopyText(g_szEtc2File, dir.File("absent_rsc.bin"));
    message.clear();
    EXPECT_EQ(PELOR_FillImages(both, &message), DOWNLOAD_NO_FILE);
    EXPECT_EQ(message, "ERR: No File");
    EXPECT_TRUE(AllCleared());
}

TEST(DownloadPlan, PathOrAddressOverItsCapacityIsRefusedWithAMessage) {
    JobGuard guard;
    TempDir dir;
    // A folder that fits, whose image paths do not (260 characters at most).
    const std::string folder =
        dir.path() + "/" + std::string(250 - dir.path().size() - 4, 'f') + "/WZ";
    ASSERT_EQ(folder.size(), 250u);
    SETTINGS_CopyText(g_szCodeFile, folder);
    SETTINGS_SplitCodePath();
    ASSERT_STREQ(g_szCodeFile, folder.c_str());
    std::string message;
    EXPECT_EQ(PELOR_FillImages(Code("70000"), &message), DOWNLOAD_REFUSED);
    EXPECT_TRUE(StartsWith(message, "Image path is longer than 260 characters")) << message;
    EXPECT_TRUE(AllCleared());

    MakeCodeFolder(dir, "WZRTAll");
    message.clear();
    EXPECT_EQ(PELOR_FillImages(Code(std::string(34, '1').c_str()), &message), DOWNLOAD_REFUSED);
    EXPECT_TRUE(StartsWith(message, "Code address is longer than 33 characters")) << message;
    EXPECT_TRUE(AllCleared());
    EXPECT_EQ(PELOR_FillImages(Code(std::string(33, '0').c_str()), nullptr), DOWNLOAD_READY);

    ASSERT_TRUE(WriteBytes(dir.File("rsc.bin"), Pattern(10, 2)));
    SETTINGS_CopyText(g_szEtc2File, dir.File("rsc.bin"));
    DownloadControls resource;
    resource.resourceChecked = true;
    resource.resourceAddressText = std::string(35, '0');
    message.clear();
    EXPECT_EQ(PELOR_FillImages(resource, &message), DOWNLOAD_REFUSED);
    EXPECT_TRUE(StartsWith(message, "Resource address is longer than 34 characters")) << message;
    EXPECT_TRUE(AllCleared());
}

TEST(DownloadPlan, AResourceAddressTheEditCouldNotHoldStartsNothing) {
    JobGuard guard;
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("rsc.bin"), Pattern(10, 2)));
    SETTINGS_CopyText(g_szEtc2File, dir.File("rsc.bin"));
    DownloadControls resource;
    resource.resourceChecked = true;
    for (const char* bad : {"12G4", "0x10", "-5", "123456789", " 10", "1 0"}) {
        resource.resourceAddressText = bad;
        std::string message;
        EXPECT_EQ(PELOR_FillImages(resource, &message), DOWNLOAD_REFUSED) << bad;
        EXPECT_EQ(message, "Invalid Resource Address ! \"" + std::string(bad) +
                               "\" is not 1 to 8 hexadecimal digits");
        EXPECT_TRUE(AllCleared()) << bad;
    }
    for (const auto& [good, address] : std::vector<std::pair<const char*, std::uint32_t>>{
             {"", 0u}, {"0", 0u}, {"1a0000", 0x1A0000u}, {"FFFFFFFF", 0xFFFFFFFFu}}) {
        resource.resourceAddressText = good;
        EXPECT_EQ(PELOR_FillImages(resource, nullptr), DOWNLOAD_READY) << good;
        EXPECT_EQ(g_ImageTable[7][13].dwAddress, address) << good;
    }
}

TEST(AddressText, TypedAddressesKeepTheirDigitsAndLoseThePrefix) {
    EXPECT_EQ(PELOR_TypedAddress("0x1a"), "1a");
    EXPECT_EQ(PELOR_TypedAddress("0XFFFFFFFF"), "FFFFFFFF");
    EXPECT_EQ(PELOR_TypedAddress("00000000"), "00000000");
    for (const char* bad : {"", "0x", "0x0x1", "x1", "123456789", "0x123456789", "1h", "-1"})
        EXPECT_FALSE(PELOR_TypedAddress(bad).has_value()) << bad;
    EXPECT_FALSE(PELOR_IsAddressText("0x1"));  // the edit has no room for a prefix
}
