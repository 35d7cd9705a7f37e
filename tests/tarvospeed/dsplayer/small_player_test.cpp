// The player window: play lists, the files a user can meet that do not play
// as a whole, the control frame, and a screenshot of the window playing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <filesystem>
#include <iostream>

#include "PlayerMessages.h"
#include "player_env.h"
#include "uFrmSmallPlayer.h"

using namespace player_test;

namespace {

class SmallPlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        GUI_OR_SKIP();
        form_ = std::make_unique<TfrmSmallPlayer>(TDSPlayerConfig{"null"});
    }
    void TearDown() override { form_.reset(); }

    std::string Video(const std::string& name, double seconds, Video kind = Video::flv1_mp3) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(make_video(kind, path, seconds)) << path;
        return path;
    }
    TDSPlayer& Player() { return form_->MediaPlayer().Player(); }
    bool Advances() {
        const std::int64_t start = Player().Position();
        return pump_until(
            [&] { return Player().State() == TDSPlayer::playing && Player().Position() > start; });
    }

    tarvo_test::TempDir dir_;
    std::unique_ptr<TfrmSmallPlayer> form_;
};

TEST_F(SmallPlayerTest, PlayListOfThreePlaysThemInOrder) {
    const std::vector<std::string> lines = {Video("one.flv", 1.5) + "=one",
                                            Video("two.flv", 1.5) + "=two",
                                            Video("three.mp4", 1.5, Video::mp4) + "=three"};
    form_->PlayList(lines);
    EXPECT_TRUE(form_->isVisible());
    ASSERT_EQ(form_->MediaPlayer().Count(), 3);
    EXPECT_EQ(form_->MediaPlayer().Item(2).title, "three");
    EXPECT_EQ(form_->fraMediaList->lswPlayList->topLevelItemCount(), 3);
    std::vector<int> order;
    pump_until(
        [&] {
            const int i = form_->MediaPlayer().Index();
            if (Player().State() == TDSPlayer::playing && (order.empty() || order.back() != i))
                order.push_back(i);
            return i == 2 && Player().State() == TDSPlayer::stopped;
        },
        std::chrono::seconds(120));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(Player().State(), TDSPlayer::stopped);
    // The last item ended: nothing restarts and play is offered again.
    pump_for(500);
    EXPECT_EQ(form_->MediaPlayer().Index(), 2);
    EXPECT_EQ(Player().State(), TDSPlayer::stopped);
    EXPECT_FALSE(form_->fraDSControler->jvgBtnPlay->isHidden());
    EXPECT_TRUE(form_->fraDSControler->jvgBtnPause->isHidden());
    EXPECT_TRUE(form_->LastMessage().isEmpty());
}

TEST_F(SmallPlayerTest, StopOnTheFirstItemStartsTheSecond) {
    form_->PlayList({Video("a.flv", 3) + "=a", Video("b.flv", 3) + "=b", Video("c.flv", 3) + "=c"});
    ASSERT_TRUE(Advances());
    form_->fraDSControler->JvgBtnStop->click();
    EXPECT_EQ(form_->MediaPlayer().Index(), 1);
    EXPECT_TRUE(Advances());
    EXPECT_EQ(form_->fraMediaList->lswPlayList->currentItem()->text(0).toStdString(), "b");
}

TEST_F(SmallPlayerTest, BadFilesGiveTheirMessageAndThePlayerGoesOn) {
    const std::string good = Video("good.flv", 3);
    const std::string whole = tarvo_test::read_file(good);
    tarvo_test::write_file(dir_.file("cut.flv"), whole.substr(0, whole.size() * 6 / 10));
    tarvo_test::write_file(dir_.file("readme.flv"), "not a video at all\r\n");
    const struct {
        std::string path;
        TDSOpenResult result;
    } cases[] = {{dir_.file("missing.flv"), TDSOpenResult::missing},
                 {dir_.file("readme.flv"), TDSOpenResult::not_playable},
                 {dir_.file("cut.flv"), TDSOpenResult::truncated}};
    for (const auto& c : cases) {
        form_->PlayFile(c.path, "");
        const QString expected =
            QString::fromUtf8(player_message(c.result)) + "\n" + QString::fromStdString(c.path);
        EXPECT_EQ(form_->LastMessage().toStdString(), expected.toStdString());
        // The message box is up and does not hold the program.
        QMessageBox* box = nullptr;
        for (QMessageBox* b : form_->findChildren<QMessageBox*>())
            if (b->text() == expected) box = b;
        ASSERT_NE(box, nullptr) << c.path;
        EXPECT_TRUE(pump_until([&] { return box->isVisible(); }));
        EXPECT_EQ(box->text(), expected);
        // The window still answers: a good file plays right after.
        form_->PlayFile(good, "good");
        EXPECT_TRUE(Advances()) << "after " << c.path;
        box->close();
        pump_for(100);
    }
    // The truncated file plays up to its break, then stops.
    form_->PlayFile(dir_.file("cut.flv"), "");
    EXPECT_EQ(Player().LastOpenResult(), TDSOpenResult::truncated);
    EXPECT_TRUE(Advances());
    EXPECT_TRUE(pump_until([&] { return Player().State() == TDSPlayer::stopped; }));
}

TEST_F(SmallPlayerTest, MuteAndUnmuteMoveTheVolumeToTheSliderEnds) {
    form_->PlayFile(Video("tone.flv", 3), "tone");
    ASSERT_TRUE(Advances());
    TfraDSControler* c = form_->fraDSControler;
    EXPECT_FALSE(c->jvgBtnSound->isHidden());
    EXPECT_TRUE(c->jvgBtnSoundOff->isHidden());
    c->jvgBtnSound->click();
    EXPECT_TRUE(c->Muted());
    EXPECT_EQ(Player().Volume(), 5000);
    EXPECT_NEAR(Player().EngineVolume(), 5000, 5);
    EXPECT_TRUE(c->jvgBtnSound->isHidden());
    EXPECT_FALSE(c->jvgBtnSoundOff->isHidden());
    c->jvgBtnSoundOff->click();
    EXPECT_EQ(Player().Volume(), 10000);
    EXPECT_NEAR(Player().EngineVolume(), 10000, 5);
    // Pause from the control frame, and the buttons follow the state.
    c->jvgBtnPause->click();
    EXPECT_EQ(Player().State(), TDSPlayer::paused);
    EXPECT_FALSE(c->jvgBtnPlay->isHidden());
    c->jvgBtnPlay->click();
    EXPECT_EQ(Player().State(), TDSPlayer::playing);
    // Moving the position slider to the middle seeks there.
    c->jvgBtnPause->click();
    c->trkPlayPos->setValue(TfraDSControler::kPositionSteps / 2);
    EXPECT_TRUE(pump_until([&] { return std::abs(Player().Position() - 15000000) < 5000000; }));
}

TEST_F(SmallPlayerTest, EscLeavesFullScreenWithThePreviousBounds) {
    form_->PlayFile(Video("full.flv", 4), "");
    ASSERT_TRUE(Advances());
    const QRect bounds = form_->geometry();
    emit form_->fraVideoWindow->clicked();
    emit form_->fraVideoWindow->doubleClicked();
    EXPECT_TRUE(form_->FullScreenMode());
    EXPECT_EQ(Player().State(), TDSPlayer::playing);  // the click was undone
    EXPECT_TRUE(form_->fraDSControler->isHidden());
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(form_.get(), &esc);
    EXPECT_FALSE(form_->FullScreenMode());
    EXPECT_FALSE(form_->fraDSControler->isHidden());
    EXPECT_TRUE(pump_until([&] { return form_->geometry() == bounds; }))
        << "bounds after leaving: " << form_->geometry().width() << "x"
        << form_->geometry().height();
}

TEST_F(SmallPlayerTest, ScreenshotOfTheWindowPlayingTheTestPattern) {
    form_->PlayFile(Video("pattern.flv", 6), "彩条测试");
    ASSERT_TRUE(Advances());
    ASSERT_TRUE(pump_until([&] { return Player().Position() > 10000000; }));
    TfraVideoWindow* video = form_->fraVideoWindow;
    QImage shot;
    // The picture is in the window once mpv has drawn a frame into the widget.
    const bool drawn = pump_until([&] {
        shot = form_->grab().toImage();
        const QPoint centre = video->mapTo(form_.get(), video->rect().center());
        const QColor c = shot.pixelColor(centre);
        return c.red() + c.green() + c.blue() > 60;
    });
    const std::string path = output_folder() + "/player_window.png";
    ASSERT_TRUE(shot.save(QString::fromStdString(path)));
    std::cout << "screenshot of the player window: " << path << std::endl;
    EXPECT_TRUE(drawn) << "the video area stayed black";
    EXPECT_GT(video->Surface()->FramesDrawn(), 0);
    // The picture in the window is the pattern: the magenta bar of the upper part.
    const QPoint magenta =
        video->mapTo(form_.get(), QPoint(video->width() * 9 / 14, video->height() / 4));
    EXPECT_TRUE(colour_near(shot, magenta.x(), magenta.y(), 191, 0, 191))
        << shot.pixelColor(magenta).name().toStdString();
}

TEST_F(SmallPlayerTest, PlayFileOfTheCurrentFileOnlyRaisesTheWindow) {
    const std::string path = Video("same.flv", 4);
    form_->PlayFile(path, "");
    ASSERT_TRUE(Advances());
    EXPECT_EQ(form_->MediaPlayer().Item(0).title, "same.flv");
    form_->PlayFile(path, "another title");
    EXPECT_EQ(form_->MediaPlayer().Item(0).title, "same.flv");
    EXPECT_EQ(Player().State(), TDSPlayer::playing);
    // Closing clears the list and stops.
    form_->close();
    EXPECT_EQ(form_->MediaPlayer().Count(), 0);
    EXPECT_EQ(Player().State(), TDSPlayer::stopped);
}

}  // namespace
