// The image rows on the in-memory host: Erase NAND and the options it pulls along, the hidden
// erase options, and Save As refusing incomplete rows.
#include <filesystem>

#include "config/settings.h"
#include "dialog_template.h"
#include "window_fixture.h"

using namespace window_test;

namespace {

class WindowRowsTest : public WindowTest {};

}  // namespace

TEST_F(WindowRowsTest, EraseNandFirstAsksThenNeedsTheCodeRow) {
    auto dlg = Start();
    Click(*dlg, IDC_CODE_CHECK);  // Code off
    ASSERT_FALSE(dlg->IsChecked(IDC_CODE_CHECK));

    // No: the box goes back, nothing else is said.
    Click(*dlg, IDC_ERASE_NAND);
    EXPECT_EQ(dialogs_.questions, Strings{"Do you want to erase all NAND?"});
    EXPECT_TRUE(dialogs_.notices.empty());
    EXPECT_FALSE(dlg->IsChecked(IDC_ERASE_NAND));

    // Yes: then the notice, and still off; the setting keeps its value.
    g_bEraseNand = 0;
    dialogs_.answers = {true};
    Click(*dlg, IDC_ERASE_NAND);
    EXPECT_EQ(dialogs_.questions.size(), 2u);
    EXPECT_EQ(dialogs_.notices, Strings{"You must check code button."});
    EXPECT_FALSE(dlg->IsChecked(IDC_ERASE_NAND));
    EXPECT_EQ(g_bEraseNand, 0);
    EXPECT_FALSE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    EXPECT_FALSE(dlg->IsChecked(IDC_RESOURCE_CHECK));
}

TEST_F(WindowRowsTest, EraseNandTurnsOnChangeBootAreaAndResourceAndOffAgain) {
    auto dlg = Start();
    ASSERT_TRUE(dlg->IsChecked(IDC_CODE_CHECK));
    dialogs_.answers = {true, true};
    Click(*dlg, IDC_ERASE_NAND);
    EXPECT_EQ(dialogs_.questions,
              (Strings{"Do you want to erase all NAND?", "Change Boot Loader?"}));
    EXPECT_TRUE(dlg->IsChecked(IDC_ERASE_NAND));
    EXPECT_TRUE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    EXPECT_TRUE(dlg->IsChecked(IDC_RESOURCE_CHECK));
    EXPECT_TRUE(dlg->Control(IDC_RESOURCE_BAR)->isEnabled());
    EXPECT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "0");
    EXPECT_STREQ(g_szCodeAddress, "0");
    EXPECT_EQ(g_bChangeBootArea, 1);
    EXPECT_EQ(g_bEtc2Check, 1);
    EXPECT_EQ(g_bEraseNand, 1);

    // Off again: Change Boot Area and Resource go off with it, asking nothing.
    Click(*dlg, IDC_ERASE_NAND);
    EXPECT_EQ(dialogs_.questions.size(), 2u);
    EXPECT_FALSE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    EXPECT_FALSE(dlg->IsChecked(IDC_RESOURCE_CHECK));
    EXPECT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "70000");
    EXPECT_EQ(g_bChangeBootArea, 0);
    EXPECT_EQ(g_bEtc2Check, 0);
    EXPECT_EQ(g_bEraseNand, 0);

    // No to Change Boot Loader leaves it off while Erase NAND stays on; boxes the operator had
    // checked by hand go off with Erase NAND as well.
    dialogs_.answers = {true, false};
    Click(*dlg, IDC_ERASE_NAND);
    EXPECT_TRUE(dlg->IsChecked(IDC_ERASE_NAND));
    EXPECT_FALSE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    EXPECT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "70000");
    EXPECT_EQ(g_bEraseNand, 1);
    dialogs_.answers = {true};
    Click(*dlg, IDC_CHANGE_BOOT_AREA);
    ASSERT_TRUE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    Click(*dlg, IDC_ERASE_NAND);
    EXPECT_FALSE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    EXPECT_FALSE(dlg->IsChecked(IDC_RESOURCE_CHECK));
}

TEST_F(WindowRowsTest, HiddenEraseOptionsAskAndFallBackToNone) {
    auto dlg = Start();
    ASSERT_TRUE(dlg->IsChecked(IDC_ERASE_NONE));

    Click(*dlg, IDC_ERASE_ALL);  // No
    EXPECT_EQ(dialogs_.questions, Strings{"Do you want to erase all NAND?"});
    EXPECT_TRUE(dlg->IsChecked(IDC_ERASE_NONE));
    EXPECT_FALSE(dlg->IsChecked(IDC_ERASE_ALL));
    EXPECT_EQ(g_bEraseAllNand, 0);

    dialogs_.answers = {true};
    Click(*dlg, IDC_ERASE_ALL);
    EXPECT_TRUE(dlg->IsChecked(IDC_ERASE_ALL));
    EXPECT_EQ(g_bEraseAllNand, 1);
    EXPECT_EQ(g_bEraseNand, 0);
    // Change Boot Area goes on without its own question.
    EXPECT_EQ(dialogs_.questions.size(), 2u);
    EXPECT_TRUE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    EXPECT_EQ(g_bChangeBootArea, 1);
    EXPECT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "0");
    EXPECT_STREQ(g_szCodeAddress, "0");

    Click(*dlg, IDC_ERASE_EXCEPT_BACKUP);  // No: back to NONE, the settings as they were
    EXPECT_EQ(dialogs_.questions.back(), "Do you want to erase NAND except Back up Area?");
    EXPECT_TRUE(dlg->IsChecked(IDC_ERASE_NONE));
    EXPECT_EQ(g_bEraseAllNand, 1);

    dialogs_.answers = {true};
    Click(*dlg, IDC_ERASE_EXCEPT_BACKUP);
    EXPECT_TRUE(dlg->IsChecked(IDC_ERASE_EXCEPT_BACKUP));
    EXPECT_EQ(g_bEraseAllNand, 0);
    EXPECT_EQ(g_bEraseNand, 1);

    Click(*dlg, IDC_ERASE_NONE);
    EXPECT_TRUE(dlg->IsChecked(IDC_ERASE_NONE));
    EXPECT_EQ(g_bEraseAllNand, 0);
    EXPECT_EQ(g_bEraseNand, 0);
    EXPECT_EQ(dialogs_.questions.size(), 4u);
}

TEST_F(WindowRowsTest, SaveAsRefusesAnIncompleteRowBeforeAnyDialog) {
    auto dlg = Start();
    dlg->Control(IDC_CODE_ADDRESS)->clear();
    Click(*dlg, IDC_SAVE_AS);
    EXPECT_EQ(dialogs_.notices, Strings{"Invalid Code Image/Address !"});
    EXPECT_TRUE(dialogs_.saved.empty());

    // The rows in order: with Data and Etc1 both incomplete, Data is named.
    dlg->SetControlText(IDC_CODE_ADDRESS, "70000");
    // The hidden Data and Etc1 rows start disabled; their handlers are wired all the same.
    dlg->Button(IDC_DATA_CHECK)->setEnabled(true);
    dlg->Button(IDC_ETC1_CHECK)->setEnabled(true);
    Click(*dlg, IDC_DATA_CHECK);
    Click(*dlg, IDC_ETC1_CHECK);
    g_szDataFile[0] = '\0';
    Click(*dlg, IDC_SAVE_AS);
    EXPECT_EQ(dialogs_.notices.back(), "Invalid Data Image/Address !");
    SETTINGS_CopyText(g_szDataFile, "d.dat");
    Click(*dlg, IDC_SAVE_AS);
    EXPECT_EQ(dialogs_.notices.back(), "Invalid Etc1 Image/Address !");
    Click(*dlg, IDC_ETC1_CHECK);
    Click(*dlg, IDC_FONT_CHECK);
    dlg->Control(IDC_FONT_ADDRESS)->clear();
    Click(*dlg, IDC_SAVE_AS);
    EXPECT_EQ(dialogs_.notices.back(), "Invalid Font Image/Address !");
    EXPECT_TRUE(dialogs_.saved.empty());
    EXPECT_EQ(dialogs_.notices.size(), 4u);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "pelorw.ini"));

    // The Resource row is not checked: an empty resource image is no reason to refuse.
    Click(*dlg, IDC_FONT_CHECK);
    Click(*dlg, IDC_RESOURCE_CHECK);
    Click(*dlg, IDC_SAVE_AS);  // the dialog opens, and is cancelled
    EXPECT_EQ(dialogs_.notices.size(), 4u);
    EXPECT_EQ(dialogs_.saved.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "pelorw.ini"));
}
