// The parts of an item: the handles and the stop mark that close them from
// any thread, and what a copy of an item takes of what was asked.
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "download/engine/ItemHandles.h"
#include "download/engine/TDlDownloads.h"
#include "download/inet/InetSession.h"

using namespace std::chrono_literals;

TEST(ItemHandles, TheStopClosesTheHandleHeldAndOneKeptAfterIt) {
    dl::ItemHandles handles;
    const auto before = inet::Session::open("test");
    handles.SetSession(before);
    EXPECT_FALSE(before->closed());
    handles.Stop();
    EXPECT_TRUE(handles.Stopped());
    EXPECT_TRUE(before->closed());
    EXPECT_EQ(handles.Session(), nullptr);  // forgotten as well
    // A transfer that opens its session after the stop finds it closed at once.
    const auto after = inet::Session::open("test");
    handles.SetSession(after);
    EXPECT_TRUE(after->closed());
    // Until the next transfer clears the mark.
    handles.SetStopped(false);
    const auto next = inet::Session::open("test");
    handles.SetSession(next);
    EXPECT_FALSE(next->closed());
}

TEST(ItemHandles, AStopFromAnotherThreadEndsAPause) {
    dl::ItemHandles handles;
    EXPECT_FALSE(handles.PauseUnlessStopped(1ms));  // not stopped: the pause runs out
    std::thread stopper([&] { handles.Stop(); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(handles.PauseUnlessStopped(60s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    stopper.join();
    EXPECT_TRUE(handles.PauseUnlessStopped(60s));  // stopped already: no wait at all
}

TEST(DownloadItem, AbortStopsOnlyARunningItemAndCancelHoldsForGood) {
    dl::TDlDownloads downloads;
    dl::TDlDownloadItem& item = downloads.AddItem();
    item.AbortItem();  // waiting: nothing to stop
    EXPECT_FALSE(item.Stopped());
    item.Cancel();  // waiting: marked, so its transfer ends as soon as it begins
    EXPECT_TRUE(item.CancelRequested());
    EXPECT_FALSE(item.Stopped());
    item.Progress.State = dl::dsRunning;
    item.AbortItem();
    EXPECT_TRUE(item.Stopped());
    item.ResetItem();
    EXPECT_FALSE(item.Stopped());
    EXPECT_TRUE(item.CancelRequested());  // a new run does not undo a Cancel
    EXPECT_EQ(item.Progress.State.load(), dl::dsWaiting);
}

TEST(DownloadItem, CopyTakesWhereTheBytesGoButNotWhereTheItemStands) {
    dl::TDlDownloads downloads;
    dl::TDlDownloadItem& source = downloads.AddItem();
    source.Request.URL = "http://h/a.mp3";
    source.Request.SetSaveFolder("/tmp/songs");
    source.Request.SetSizeLimit(1000);
    source.Request.SetContinueTransfer(true);
    source.Request.SetKeepName("a.mp3");
    source.Request.SetPageDepth(2);
    source.Request.SetCarriedAttempts(dl::AttemptsSoFar{});
    source.Request.IsLink = true;
    source.Request.StripCookieAttributes = false;
    source.Progress.SetResponseURL("http://h/b.mp3");
    source.Progress.SetRetryPauseMs(500);
    dl::TDlDownloadItem& copy = downloads.AddItem();
    copy.Assign(source);
    EXPECT_EQ(copy.Request.SaveFolder(), "/tmp/songs");
    EXPECT_EQ(copy.Request.SizeLimit(), 1000u);
    EXPECT_TRUE(copy.Request.ContinueTransfer());
    EXPECT_EQ(copy.Request.KeepName(), "a.mp3");
    // Where the source stands among pages and attempts is its own.
    EXPECT_EQ(copy.Request.PageDepth(), 0);
    EXPECT_FALSE(copy.Request.CarriedAttempts().has_value());
    EXPECT_FALSE(copy.Request.IsLink);
    EXPECT_TRUE(copy.Request.StripCookieAttributes);
    EXPECT_EQ(copy.Progress.ResponseURL(), "");
    EXPECT_EQ(copy.Progress.RetryPauseMs(), 0);
}
