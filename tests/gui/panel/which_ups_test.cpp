// Choosing the agent: the remote list editor keeps its entries in order while showing the newest
// first, and the selection dialog picks the agent the panel watched last.
#include <QtTest>
#include <filesystem>

#include "gui/panel/which_ups_dialog.h"

namespace kelvora::panel {

class WhichUpsTest : public QObject {
    Q_OBJECT
  private:
    std::filesystem::path place_;
    std::unique_ptr<ups::platform::Registry> registry_;

  private slots:
    void init() {
        char dir[] = "/tmp/whichupsXXXXXX";
        QVERIFY(mkdtemp(dir) != nullptr);
        place_ = dir;
        registry_ = ups::platform::MakePrivateFileRegistry(place_ / "registry");
    }
    void cleanup() { std::filesystem::remove_all(place_); }

    void theEditorShowsTheNewestFirstAndStoresTheListInOrder() {
        CDlgRemoteUPS editor(*registry_);
        editor.SetFields({"first", "10.0.0.1", "hall", "one"});
        editor.Insert();
        editor.SetFields({"second", "10.0.0.2", "cellar", "two"});
        editor.Insert();
        editor.SetFields({"", "10.0.0.9", "", ""});
        editor.Insert();  // no name, no entry
        QCOMPARE(editor.names()->count(), 2);
        QCOMPARE(editor.names()->item(0)->text(), QString("second"));
        // Update the selected (the first entry, shown last): it moves to the end of the list.
        editor.names()->setCurrentRow(1);
        editor.SetFields({"first", "10.0.0.11", "hall", "one"});
        editor.Update();
        editor.accept();
        const auto stored = ReadRemoteList(*registry_);
        QCOMPARE(stored.size(), std::size_t{2});
        QCOMPARE(stored[0].name, std::string("second"));
        QCOMPARE(stored[1].address, std::string("10.0.0.11"));
        // Delete the newest shown.
        CDlgRemoteUPS again(*registry_);
        QCOMPARE(again.names()->item(0)->text(), QString("first"));
        again.names()->setCurrentRow(0);
        again.Delete();
        again.accept();
        QCOMPARE(ReadRemoteList(*registry_).size(), std::size_t{1});
        QCOMPARE(ReadRemoteList(*registry_)[0].name, std::string("second"));
    }

    void theSelectionPicksTheLastAddressAndRemembersTheChoice() {
        WriteRemoteList(*registry_, {{"a", "10.0.0.1", "", "pa"}, {"b", "10.0.0.2", "", "pb"}});
        WriteString(*registry_, kPanelConfigKey, "RemoteIPAddress", "10.0.0.2");
        CDlgWhichUPS dialog(*registry_, 0);
        QVERIFY(!dialog.list()->isEnabled());  // local: no list to choose from
        QCOMPARE(dialog.list()->currentText(), QString("(b) 10.0.0.2"));
        dialog.SetLocalRemote(1);
        QVERIFY(dialog.list()->isEnabled());
        dialog.list()->setCurrentIndex(0);
        dialog.accept();
        QCOMPARE(dialog.localRemote(), 1);
        QCOMPARE(dialog.address(), QString("10.0.0.1"));
        QCOMPARE(dialog.password(), QString("pa"));
        QCOMPARE(ReadString(*registry_, kPanelConfigKey, "RemoteIPAddress"),
                 std::string("10.0.0.1"));
    }
};

}  // namespace kelvora::panel

QTEST_MAIN(kelvora::panel::WhichUpsTest)
#include "which_ups_test.moc"
