#include <QCoreApplication>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "NotificationCenter.h"

TEST(NotificationCenter, DeliversByNameAndSenderAndStopsAfterRemoval)
{
    NotificationCenter center;
    int a = 0, b = 0, all = 0;
    int sender = 0, other = 0;
    center.AddObserver(&a, "One", [&](const Notification&) { ++a; });
    center.AddObserver(&b, "One", [&](const Notification&) { ++b; }, &sender);
    center.AddObserver(&all, "", [&](const Notification&) { ++all; });

    center.PostNotification("One", &other);
    center.PostNotification("One", &sender);
    center.PostNotification("Two");
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(all, 3);

    center.RemoveObserver(&a);
    center.PostNotification("One", &sender);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 2);
}

TEST(NotificationCenter, HandlerMayRemoveObserversWhileNotified)
{
    NotificationCenter center;
    int first = 0, second = 0;
    center.AddObserver(&first, "N", [&](const Notification&) {
        ++first;
        center.RemoveObserver(&first);
        center.RemoveObserver(&second);
    });
    center.AddObserver(&second, "N", [&](const Notification&) { ++second; });
    center.PostNotification("N");
    center.PostNotification("N");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(center.ObserverCount(), 0u);
}

TEST(NotificationCenter, MainThreadPostsArriveOnTheApplicationThreadWithTheirInfo)
{
    NotificationCenter center;
    std::vector<std::string> seen;
    std::thread::id where;
    center.AddObserver(&seen, "Detach", [&](const Notification& n) {
        seen.push_back(n.userInfo.value("USBPath").toString().toStdString());
        where = std::this_thread::get_id();
    });
    std::thread poster([&] { center.PostOnMainThread("Detach", nullptr, {{"USBPath", "sdb"}}); });
    poster.join();
    EXPECT_TRUE(seen.empty());  // not before the event loop runs
    QCoreApplication::processEvents();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "sdb");
    EXPECT_EQ(where, std::this_thread::get_id());
}

TEST(NotificationCenter, LifetimeObjectEndsTheRegistration)
{
    NotificationCenter center;
    int heard = 0;
    {
        QObject owner;
        center.AddObserver(&owner, "N", [&](const Notification&) { ++heard; }, nullptr, &owner);
        center.PostNotification("N");
    }
    center.PostNotification("N");
    EXPECT_EQ(heard, 1);
}
