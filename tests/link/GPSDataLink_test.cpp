// The GPS data link on its own: real local sockets, a run loop and
// notification centres of the test's own.
#include "link/GPSDataLink.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "nmea/nmea_support.h"
#include "support/sockets.h"
#include "support/temp_dir.h"

namespace vgps {
namespace {

using namespace std::chrono_literals;

// A receiver's end: a listener at `path` and the connection it accepts.
struct Receiver {
    explicit Receiver(std::string socket_path) : path(std::move(socket_path)), listener(test::listen_unix(path)) {}
    ~Receiver() {
        if (peer >= 0) ::close(peer);
        ::close(listener);
    }
    void accept() { peer = ::accept(listener, nullptr, nullptr); }
    std::string path;
    int listener;
    int peer = -1;
};

std::vector<std::string> utc_of(const std::vector<Notification>& posted) {
    std::vector<std::string> out;
    for (const Notification& n : posted) out.push_back(std::get<std::string>(n.userInfo.at(kPositionUTCKey)));
    return out;
}

TEST(GPSDataLink, EachLinkPostsToItsOwnCentre) {
    test::TempDir dir;
    RunLoop loop;
    NotificationCenter centres[2];
    std::vector<Notification> posted[2], on_default;
    const auto default_observer = NotificationCenter::defaultCenter()->addObserver(
        kPositionNotificationName, [&](const Notification& n) { on_default.push_back(n); });
    Receiver receivers[2] = {Receiver(dir.file("a")), Receiver(dir.file("b"))};
    GPSDataLink links[2] = {GPSDataLink(&centres[0], &loop), GPSDataLink(&centres[1], &loop)};
    const std::string sentences[2] = {test::nmea_sentence("GPRMC,083005.00,A,4807.038,N,01131.000,E,0.0,0.0,150911,,"),
                                      test::nmea_sentence("GPRMC,120000.00,A,4807.038,N,01131.000,E,0.0,0.0,010120,,")};
    for (int i = 0; i < 2; ++i) {
        centres[i].addObserver(kPositionNotificationName,
                               [&posted, i](const Notification& n) { posted[i].push_back(n); });
        int error = 0;
        ASSERT_EQ(links[i].open(receivers[i].path.c_str(), &error), GPSDataLink::OpenResult::Linked) << error;
        receivers[i].accept();
        ASSERT_TRUE(test::write_all(receivers[i].peer, test::Bytes(sentences[i].begin(), sentences[i].end())));
    }
    ASSERT_TRUE(loop.run_until([&] { return !posted[0].empty() && !posted[1].empty(); }, 5000ms));
    EXPECT_EQ(utc_of(posted[0]), std::vector<std::string>{"2011/09/15 08:30:05.00"});
    EXPECT_EQ(utc_of(posted[1]), std::vector<std::string>{"2020/01/01 12:00:00.00"});
    EXPECT_TRUE(on_default.empty());
    NotificationCenter::defaultCenter()->removeObserver(default_observer);
}

}  // namespace
}  // namespace vgps
