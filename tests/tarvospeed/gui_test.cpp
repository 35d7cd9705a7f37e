// The main window over a real core, on Qt's offscreen platform (or the X
// display under Xvfb, where the screenshots are taken).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <chrono>
#include <filesystem>

#include "frm_about.h"
#include "frm_setting.h"
#include "frm_video_editor.h"
#include "frm_video_preview.h"
#include "platform/registry.h"
#include "speed/config_store.h"
#include "speed/proxy_control.h"
#include "speed_fixture.h"

// Fontconfig and D-Bus keep their caches for the life of the process, by design.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libdbus-1\n";
}

namespace {

using tarvo_test::read_file;
using tarvo_test::wait_until;
using tarvo_test::write_file;
using tarvospeed::TfrmVideoPreview;
using tarvospeed::TSpeedCore;

QApplication& app() {
    static int argc = 1;
    static char name[] = "tarvospeed_gui_tests";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Kept to the very end: tearing the X connection down among the other
    // static objects of the process crashes in Qt.
    static QApplication* a = new QApplication(argc, argv);
    return *a;
}

class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        app();
        cache = env.make_cache();
        ASSERT_FALSE(cache.empty());
        wrapper = speed_test::SpeedEnv::unique_name("tw");
        std::filesystem::copy_file("/bin/sleep", env.dir.file(wrapper));
        write_file(env.dir.file("tarvospeed.ini"),
                   "[server]\nproxy_wrap_process=" + wrapper + "\nproxy_wrap_param=300\n");
    }
    void TearDown() override {
        window.reset();
        if (core) core->Finish();
        tarvospeed::TQlProxyControl::KillProcesses(wrapper);
    }

    void make_window() {
        core = std::make_unique<TSpeedCore>(env.dir.folder());
        ASSERT_EQ(core->Create(), 0);
        window = std::make_unique<TfrmVideoPreview>(*core);
    }

    QTreeWidgetItem* tag_node(const QString& name) {
        for (int i = 0; i < window->nodeMyTags->childCount(); ++i)
            if (window->nodeMyTags->child(i)->text(0) == name) return window->nodeMyTags->child(i);
        return nullptr;
    }

    QStringList rows() {
        QStringList out;
        for (int i = 0; i < window->lswVideos->topLevelItemCount(); ++i)
            out << window->lswVideos->topLevelItem(i)->text(0);
        return out;
    }

    // Three cache files, one a library entry in the tag "电影".
    void make_library() {
        write_file(cache + "a.flv", "FLV a");
        write_file(cache + "b.flv", "FLV bb");
        write_file(cache + "c.flv.part", "part");
        write_file(env.dir.file("videos.xml"),
                   "<?xml version=\"1.0\" encoding=\"GB2312\"?><root><video title=\"A video\" "
                   "path=\"" +
                       cache + "a.flv\"><specials><item index=\"1\"/></specials></video></root>");
        write_file(env.dir.file("specials.xml"),
                   "<?xml version=\"1.0\" encoding=\"GB2312\"?><root><item index=\"1\" "
                   "name=\"\xb5\xe7\xd3\xb0\"/><item index=\"2\" name=\"empty\"/></root>");
    }

    speed_test::SpeedEnv env;
    std::string cache, wrapper;
    std::unique_ptr<TSpeedCore> core;
    std::unique_ptr<TfrmVideoPreview> window;
};

TEST_F(MainWindow, TrayStartTogglesCaptionImageAndHelpers) {
    make_window();
    EXPECT_EQ(window->windowTitle(), "塔沃-视频加速器");
    EXPECT_FALSE(window->isVisible()) << "starts in the tray";
    EXPECT_EQ(window->mniStart->text(), "启动加速(&S)");
    window->mniStart->trigger();
    EXPECT_TRUE(window->mniStart->isChecked());
    EXPECT_EQ(window->mniStart->text(), "停止加速(&S)");
    EXPECT_EQ(window->mniStart->property("imageIndex").toInt(), 6);
    EXPECT_TRUE(wait_until([&] { return tarvospeed::TQlProxyControl::ProcessExists(wrapper); }));

    window->mniStart->trigger();
    EXPECT_FALSE(window->mniStart->isChecked());
    EXPECT_EQ(window->mniStart->text(), "启动加速(&S)");
    EXPECT_EQ(window->mniStart->property("imageIndex").toInt(), 5);
    EXPECT_TRUE(wait_until([&] { return !tarvospeed::TQlProxyControl::ProcessExists(wrapper); }));
    EXPECT_EQ(window->mniExit->text(), "退出(&X)");
    EXPECT_EQ(window->timClear->interval(), 1800000);
}

TEST_F(MainWindow, SelectingATagFiltersTheList) {
    make_library();
    make_window();
    window->trvSpecials->setCurrentItem(window->nodeAll);
    QStringList all = rows();
    all.sort();
    EXPECT_EQ(all, (QStringList{"A video", "未命名"}));
    ASSERT_NE(tag_node("电影"), nullptr);
    window->trvSpecials->setCurrentItem(tag_node("电影"));
    EXPECT_EQ(rows(), QStringList{"A video"});
    window->trvSpecials->setCurrentItem(tag_node("empty"));
    EXPECT_TRUE(rows().isEmpty());
    window->trvSpecials->setCurrentItem(window->nodeMyTags);
    EXPECT_TRUE(rows().isEmpty());
}

TEST_F(MainWindow, DropOnATagGivesThePlainFileAnEntryAndSaves) {
    make_library();
    make_window();
    window->trvSpecials->setCurrentItem(window->nodeAll);
    for (int i = 0; i < window->lswVideos->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = window->lswVideos->topLevelItem(i);
        row->setSelected(row->text(0) == "未命名");
    }
    EXPECT_FALSE(window->DropOnTag(window->nodeAll)) << "only a tag takes a drop";
    ASSERT_TRUE(window->DropOnTag(tag_node("empty")));
    std::string xml = read_file(env.dir.file("videos.xml"));
    std::size_t at = xml.find("path=\"" + cache + "b.flv\"");
    ASSERT_NE(at, std::string::npos) << xml;
    EXPECT_NE(xml.find("<item index=\"2\"/>", at), std::string::npos) << xml;
    window->trvSpecials->setCurrentItem(tag_node("empty"));
    EXPECT_EQ(rows(), QStringList{"未命名"});
}

TEST_F(MainWindow, DeleteFromDiskRemovesTheFileSendsDelAndUpdatesTheList) {
    make_library();
    make_window();
    window->mniStart->trigger();  // the pipe listener runs with acceleration
    speed_test::ProxyEnd proxy;
    ASSERT_TRUE(wait_until([&] { return proxy.open() == 0; }));
    window->trvSpecials->setCurrentItem(window->nodeAll);
    for (int i = 0; i < window->lswVideos->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = window->lswVideos->topLevelItem(i);
        row->setSelected(row->text(0) == "A video");
    }
    QString asked;
    window->ConfirmDelete = [&](const QString& text) {
        asked = text;
        return true;
    };
    window->DeleteSelectedFromDisk();
    EXPECT_EQ(asked, "确定从磁盘上删除吗？");
    EXPECT_FALSE(std::filesystem::exists(cache + "a.flv"));
    EXPECT_EQ(rows(), QStringList{"未命名"});
    char buf[platform::PIPE_MESSAGE_MAX];
    long n = proxy.read(buf, sizeof buf, 10000);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0),
              "DELRES_PATH=" + cache + "a.flv" + std::string(1, '\0'));
    EXPECT_EQ(read_file(env.dir.file("videos.xml")).find("a.flv"), std::string::npos);
}

TEST_F(MainWindow, DeleteInATagAsksAndKeepsTheFilesOnNo) {
    make_library();
    make_window();
    window->trvSpecials->setCurrentItem(tag_node("电影"));
    ASSERT_EQ(rows(), QStringList{"A video"});
    window->lswVideos->topLevelItem(0)->setSelected(true);
    QString asked;
    window->AskTagDelete = [&](const QString& text) {
        asked = text;
        return QMessageBox::Cancel;
    };
    window->DeleteVideos();
    EXPECT_EQ(asked,
              "将从\"电影\"标签中删除，同时也删除磁盘文件吗?\r\n删除请按\"是\", 否则请按\"否\"。");
    EXPECT_EQ(rows(), QStringList{"A video"}) << "Cancel changes nothing";

    window->AskTagDelete = [](const QString&) { return QMessageBox::No; };
    window->DeleteVideos();
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_TRUE(std::filesystem::exists(cache + "a.flv"));
    std::string xml = read_file(env.dir.file("videos.xml"));
    EXPECT_NE(xml.find("a.flv"), std::string::npos);
    EXPECT_EQ(xml.find("<specials>"), std::string::npos) << xml;
}

TEST_F(MainWindow, DeleteInATagOnYesDeletesTheFileAndKeepsTheEntry) {
    make_library();
    make_window();
    window->trvSpecials->setCurrentItem(tag_node("电影"));
    window->lswVideos->topLevelItem(0)->setSelected(true);
    window->AskTagDelete = [](const QString&) { return QMessageBox::Yes; };
    window->DeleteVideos();
    EXPECT_FALSE(std::filesystem::exists(cache + "a.flv"));
    EXPECT_NE(core->Manager->Videos.FindByPath(cache + "a.flv"), nullptr);
    window->trvSpecials->setCurrentItem(window->nodeAll);
    EXPECT_EQ(rows(), QStringList{"未命名"}) << "its file gone, the entry shows nowhere";
}

TEST_F(MainWindow, AboutBoxShowsNameVersionAndLink) {
    write_file(env.dir.file("tarvospeed.ini"),
               "[server]\nproxy_wrap_process=" + wrapper +
                   "\n[web]\ndownload_page=http://127.0.0.1/download\n");
    make_window();
    tarvospeed::TfrmAbout& about = *window->frmAbout;
    EXPECT_EQ(about.lblVersion->text(), "当前版本：1.0.0 (Build 0)");
    EXPECT_EQ(about.lblLink->text(), "http://127.0.0.1/download");
    EXPECT_EQ(about.btnClose->text(), "关闭");
    window->mniAbout->trigger();
    EXPECT_TRUE(about.isVisible());
    about.btnClose->click();
    EXPECT_FALSE(about.isVisible());
}

TEST_F(MainWindow, RefreshIsOldestFirstAndTheDateColumnFlipsIt) {
    make_library();
    make_window();
    auto when = [](int hours_ago) {
        return std::chrono::file_clock::now() - std::chrono::hours(hours_ago);
    };
    std::filesystem::last_write_time(cache + "a.flv", when(1));
    std::filesystem::last_write_time(cache + "b.flv", when(5));
    window->trvSpecials->setCurrentItem(window->nodeAll);  // the refresh
    // The library entry's date came from the file when it was loaded.
    core->Manager->Videos.FindByPath(cache + "a.flv")->Time = std::time(nullptr) - 3600;
    window->LoadVideos();
    EXPECT_EQ(rows(), (QStringList{"未命名", "A video"})) << "oldest first";
    window->SortByColumn(1);
    EXPECT_EQ(rows(), (QStringList{"A video", "未命名"})) << "newest first";
    window->SortByColumn(1);
    EXPECT_EQ(rows(), (QStringList{"未命名", "A video"}));
    window->SortByColumn(2);  // another column keeps the direction: larger first
    EXPECT_EQ(rows(), (QStringList{"未命名", "A video"}));
}

TEST_F(MainWindow, TagEditsKeepNamesUniqueAndSaveTheTree) {
    make_library();
    make_window();
    QString shown;
    window->Message = [&](const QString& t) { shown = t; };
    // A new tag below "我的标签".
    auto* fresh = new QTreeWidgetItem(QStringList{""});
    fresh->setData(0, Qt::UserRole + 1, tarvospeed::TAG_STATE_INDEX);
    window->nodeMyTags->addChild(fresh);
    EXPECT_TRUE(window->FinishTagEdit(fresh, "  纪录片 ", true));
    EXPECT_NE(read_file(env.dir.file("specials.xml")).find("index=\"3\""), std::string::npos);
    // A sibling's name is refused; the new node goes, a renamed one keeps its name.
    auto* dup = new QTreeWidgetItem(QStringList{""});
    dup->setData(0, Qt::UserRole + 1, tarvospeed::TAG_STATE_INDEX);
    window->nodeMyTags->addChild(dup);
    EXPECT_FALSE(window->FinishTagEdit(dup, "EMPTY", true));
    EXPECT_EQ(shown, "已经有个标签叫做\"EMPTY\"了");
    EXPECT_EQ(window->nodeMyTags->childCount(), 3);
    EXPECT_FALSE(window->FinishTagEdit(tag_node("电影"), "empty", false));
    EXPECT_EQ(tag_node("电影")->text(0), "电影");
    EXPECT_FALSE(window->FinishTagEdit(tag_node("电影"), "  ", false));
    EXPECT_EQ(shown, "请输入有效的标签名,中文,字母均可");
    EXPECT_TRUE(window->FinishTagEdit(tag_node("电影"), "电影2", false));
    window->DeleteTag(tag_node("empty"));
    tarvospeed::TVideoCategoryTree back;
    ASSERT_EQ(back.LoadFromXml(env.dir.file("specials.xml")), 0);
    ASSERT_EQ(back.Root().Children.size(), 2u);
    EXPECT_EQ(back.FindByIndex(1)->Name, "电影2");
    EXPECT_EQ(back.FindByIndex(3)->Name, "纪录片");
    EXPECT_EQ(back.FindByIndex(2), nullptr);
}

TEST_F(MainWindow, ClearDeletesPartFilesOnly) {
    make_library();
    make_window();
    window->ClearPartFiles();
    EXPECT_FALSE(std::filesystem::exists(cache + "c.flv.part"));
    EXPECT_TRUE(std::filesystem::exists(cache + "a.flv"));
    EXPECT_TRUE(std::filesystem::exists(cache + "b.flv"));
}

struct ConfigCase {
    const char* what;
    std::string path;  // "@" stands for the test folder
    int space;
    const char* message;  // "" when valid
};

TEST_F(MainWindow, SettingsValidateWithTheirMessages) {
    make_window();
    write_file(env.dir.file("a-file"), "x");
    const ConfigCase cases[] = {
        {"empty path", "  ", 200, "请选定或输入保存视频的文件路径"},
        {"a file, not a folder we may write", "@a-file", 200, "您选择的目录不可写入"},
        {"below the minimum", "@cache", 99, "下载空间最少为100M"},
        {"more than the disk holds", "@cache", 1 << 30,
         "您设置的下载占用空间已经超过了磁盘的剩余空间。"},
        {"a new folder is made", "@new/nested", 100, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tarvospeed::TfrmSetting dlg(*core, env.dir.folder(), "/opt/tarvo/tarvospeed");
        EXPECT_EQ(dlg.windowTitle(), "参数设置");
        dlg.ShowSettings();
        QString shown;
        dlg.fraConfig->Message = [&](const QString& t) { shown = t; };
        std::string path = c.path;
        if (!path.empty() && path[0] == '@') path = env.dir.str() + "/" + path.substr(1);
        dlg.fraConfig->edtTempPath->setText(QString::fromStdString(path));
        dlg.fraConfig->edtMaxSpace->setValue(c.space);
        EXPECT_EQ(dlg.fraConfig->Validate(), std::string(c.message).empty());
        EXPECT_EQ(shown.toStdString(), c.message);
    }
    EXPECT_TRUE(std::filesystem::is_directory(env.dir.file("new/nested")));
}

TEST_F(MainWindow, SettingsSaveWritesTheRegistryAndAsksToRestart) {
    make_window();
    tarvospeed::TfrmSetting dlg(*core, env.dir.folder(), "/opt/tarvo/tarvospeed");
    dlg.ShowSettings();
    QString asked;
    dlg.Ask = [&](const QString& t) {
        asked = t;
        return false;
    };
    dlg.fraConfig->edtMaxSpace->setValue(150);
    dlg.fraConfig->chkStart->setChecked(true);
    ASSERT_TRUE(dlg.Save());
    EXPECT_TRUE(asked.startsWith("修改下载磁盘空间限制不会立即生效")) << asked.toStdString();
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::open(platform::RegRoot::local_machine,
                                     tarvospeed::SETTINGS_REGISTRY_KEY, key),
              0);
    platform::RegValue v;
    ASSERT_EQ(key.query("MaxSpace", v), 0);
    EXPECT_EQ(v.dword, 150u);
    ASSERT_EQ(key.query("CachePath", v), 0);
    EXPECT_EQ(v.text, cache);
    EXPECT_TRUE(tarvospeed::ReadAutoStart());
    EXPECT_NE(read_file(tarvospeed::AutoStartFile()).find("Exec=\"/opt/tarvo/tarvospeed\""),
              std::string::npos);

    asked.clear();
    dlg.fraConfig->edtTempPath->setText(QString::fromStdString(env.dir.folder() + "other"));
    dlg.fraConfig->chkStart->setChecked(false);
    ASSERT_TRUE(dlg.Save());
    EXPECT_TRUE(asked.startsWith("修改视频文件保存目录不会立即生效")) << asked.toStdString();
    EXPECT_FALSE(tarvospeed::ReadAutoStart());
    EXPECT_FALSE(std::filesystem::exists(tarvospeed::AutoStartFile()));
    ASSERT_EQ(key.query("CachePath", v), 0);
    EXPECT_EQ(v.text, env.dir.folder() + "other/");
}

TEST_F(MainWindow, EditorSavesTitleDescriptionAndTags) {
    make_library();
    ASSERT_TRUE(speed_test::make_video(cache + "a.flv", 4));  // a real video for its thumbnail
    make_window();
    tarvospeed::TVideoItem* entry = core->Manager->Videos.FindByPath(cache + "a.flv");
    ASSERT_NE(entry, nullptr);
    tarvospeed::TfrmVideoEditor& ed = *window->frmVideoEditor;
    EXPECT_EQ(ed.windowTitle(), "我的视频收藏信息");
    ed.Prepare(entry->Path, entry);
    EXPECT_EQ(ed.edtTitle->text(), "A video");
    EXPECT_EQ(entry->GrabPath, cache + "bmp/a.bmp") << "no thumbnail yet: one is grabbed";
    ASSERT_EQ(ed.trvCategory->topLevelItemCount(), 2);
    EXPECT_EQ(ed.trvCategory->topLevelItem(0)->checkState(0), Qt::Checked);

    QString shown;
    ed.Message = [&](const QString& t) { shown = t; };
    ed.edtTitle->setText("   ");
    EXPECT_FALSE(ed.Confirm());
    EXPECT_EQ(shown, "请填写标题.");

    ed.edtTitle->setText("  新标题 ");
    ed.mmoDescr->setPlainText("第一行\n第二行");
    ed.trvCategory->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    ed.trvCategory->topLevelItem(1)->setCheckState(0, Qt::Checked);
    ASSERT_TRUE(ed.Confirm());
    EXPECT_EQ(entry->Title, "新标题");
    EXPECT_EQ(entry->Descr, "第一行\r\n第二行");
    EXPECT_EQ(entry->Specials, std::vector<int>{2});
    ASSERT_EQ(core->SaveLibrary(), 0);
    tarvospeed::TVideoItemList back;
    back.LoadFromXml(core->VideosFile());
    ASSERT_EQ(back.Count(), 1u);
    EXPECT_EQ(back.Item(0).Title, "新标题");
    EXPECT_EQ(back.Item(0).Descr, "第一行\r\n第二行");
    EXPECT_EQ(back.Item(0).Specials, std::vector<int>{2});
}

TEST_F(MainWindow, EditorOfAPlainFileAddsNothingUntilConfirmed) {
    make_library();
    make_window();
    tarvospeed::TfrmVideoEditor& ed = *window->frmVideoEditor;
    ed.Prepare(cache + "b.flv", nullptr);
    EXPECT_EQ(ed.edtTitle->text(), "未命名");
    EXPECT_EQ(core->Manager->Videos.Count(), 1u) << "a cancelled edit adds nothing";
    ed.edtTitle->setText("b");
    ASSERT_TRUE(ed.Confirm());
    auto entry = ed.TakeNewEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Title, "b");
    EXPECT_EQ(entry->Size, 6);
}

// Under Xvfb (DISPLAY set) with a CJK font: the main window with videos and
// thumbnails, saved into the test's output folder.
TEST_F(MainWindow, ScreenshotOfTheMainWindow) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "needs a display (xvfb-run)";
    make_library();
    ASSERT_TRUE(speed_test::make_video(cache + "d.flv", 4));
    make_window();
    window->ShowMainWindow();
    window->trvSpecials->setCurrentItem(window->nodeAll);
    QApplication::processEvents();
    QImage shot = window->grab().toImage();
    QDir().mkpath(SCREENSHOT_DIR);
    const QString path = QString(SCREENSHOT_DIR) + "/main_window.png";
    ASSERT_TRUE(shot.save(path));
    EXPECT_EQ(window->windowTitle(), "塔沃-视频加速器");
    // Not blank: the pixels vary.
    double sum = 0, sq = 0;
    int n = 0;
    for (int y = 0; y < shot.height(); y += 4)
        for (int x = 0; x < shot.width(); x += 4) {
            double g = qGray(shot.pixel(x, y));
            sum += g;
            sq += g * g;
            ++n;
        }
    double mean = sum / n;
    EXPECT_GT(sq / n - mean * mean, 50.0) << path.toStdString();
}

// The pixels of `shot` vary (not a blank picture).
double variance(const QImage& shot) {
    double sum = 0, sq = 0;
    int n = 0;
    for (int y = 0; y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2) {
            double g = qGray(shot.pixel(x, y));
            sum += g;
            sq += g * g;
            ++n;
        }
    double mean = sum / n;
    return sq / n - mean * mean;
}

TEST_F(MainWindow, ScreenshotsOfTheSettingsAndTheEditor) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "needs a display (xvfb-run)";
    make_library();
    ASSERT_TRUE(speed_test::make_video(cache + "a.flv", 4));
    make_window();
    QDir().mkpath(SCREENSHOT_DIR);

    tarvospeed::TfrmSetting& settings = *window->frmSetting;
    settings.ShowSettings();
    settings.show();
    QApplication::processEvents();
    QImage shot = settings.grab().toImage();
    ASSERT_TRUE(shot.save(QString(SCREENSHOT_DIR) + "/settings.png"));
    EXPECT_EQ(settings.windowTitle(), "参数设置");
    EXPECT_GT(variance(shot), 50.0);
    settings.hide();

    tarvospeed::TfrmVideoEditor& ed = *window->frmVideoEditor;
    ed.Prepare(cache + "a.flv", core->Manager->Videos.FindByPath(cache + "a.flv"));
    ed.show();
    QApplication::processEvents();
    shot = ed.grab().toImage();
    ASSERT_TRUE(shot.save(QString(SCREENSHOT_DIR) + "/editor.png"));
    EXPECT_EQ(ed.windowTitle(), "我的视频收藏信息");
    EXPECT_GT(variance(shot), 50.0);
    ed.hide();
}

}  // namespace
