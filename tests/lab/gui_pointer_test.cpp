// The desktop program used as a hand uses it: the real program on a real X server (Xvfb),
// in the lab's PC namespace against emulated devices, driven only by pointer clicks that the
// X server itself generates (XTest) at the places where the controls are drawn. What each
// click did is read from what the X server shows (which windows are mapped, what they
// look like) and from what the devices received; nothing in the program is called.
//
// The places are the program's own layout at its opening size, 1260x780 (which a
// 1920x1080 screen leaves it), where a page is at the size it was designed for; the grid
// rows are found in the window's pixels.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "devsim/device_peer.h"
#include "support/lab.h"
#include "support/lab_devices.h"
#include "support/program_folder.h"
#include "wire/packet.h"

#if FD_HAVE_XTEST
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>
#endif

namespace fd::test {
namespace {

using namespace std::chrono_literals;

#if FD_HAVE_XTEST

// Generous: a loaded machine may take many seconds to start the program or draw a window.
constexpr auto kWait = 60s;

std::string FindInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string all = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= all.size();) {
        const std::size_t end = std::min(all.find(':', start), all.size());
        const std::string candidate = all.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// Checks pred every 20 ms (each check reads pixels from the X server) until it holds or
// the time is up; whether it held.
bool Poll(const std::function<bool()>& pred, std::chrono::milliseconds timeout = kWait) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(20ms);
    }
}

// Waits for a child's end (killing it after the wait); whether it ended by itself.
bool EndChild(pid_t pid, int signal) {
    if (pid <= 0) return true;
    kill(pid, signal);
    int status = 0;
    if (WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, kWait)) return true;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return false;
}

// A top-level window as the X server has it.
struct XWin {
    Window id = 0;
    std::string title;
    int x = 0, y = 0, w = 0, h = 0;
};

// An image of a window or of a part of it, pixels as 0xRRGGBB, addressed in the window's
// coordinates.
struct Shot {
    int ox = 0, oy = 0, w = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t at(int x, int y) const {
        x -= ox;
        y -= oy;
        return x >= 0 && y >= 0 && x < w && y < h ? px[static_cast<std::size_t>(y * w + x)] : 0;
    }
    int bottom() const { return oy + h; }
    // Whether the part holds one colour only.
    bool Uniform(int x0, int y0, int x1, int y1) const {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (at(x, y) != at(x0, y0)) return false;
        return true;
    }
    bool Same(const Shot& o, int x0, int y0, int x1, int y1) const {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (at(x, y) != o.at(x, y)) return false;
        return true;
    }
};

// Xvfb with a display number of its own choosing, and one client connection to it.
class XServer {
public:
    // Empty on success, else why there is no X server.
    std::string Start() {
        const std::string xvfb = FindInPath("Xvfb");
        if (xvfb.empty()) return "Xvfb is not installed (Debian package xvfb)";
        int fds[2];
        if (pipe(fds) != 0) return "no pipe";
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execl(xvfb.c_str(), xvfb.c_str(), "-displayfd", fd.c_str(), "-screen", "0",
                  "1920x1080x24", "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        if (m_pid < 0) {
            close(fds[0]);
            return "cannot fork";
        }
        // Xvfb writes its display number once it accepts connections.
        std::string number;
        const auto until = std::chrono::steady_clock::now() + kWait;
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, 200) <= 0) {
                if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                    m_pid = -1;
                    break;
                }
                continue;
            }
            char c;
            if (read(fds[0], &c, 1) != 1) break;
            if (c == '\n') break;
            number += c;
        }
        close(fds[0]);
        if (number.empty()) return "Xvfb did not start";
        m_display = ":" + number;
        m_dpy = XOpenDisplay(m_display.c_str());
        if (m_dpy == nullptr) return "cannot connect to Xvfb at " + m_display;
        // Windows come and go between two requests; a request about one that went fails,
        // and its caller sees that in the result.
        XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
        int ev, err, major, minor;
        if (!XTestQueryExtension(m_dpy, &ev, &err, &major, &minor))
            return "the X server has no XTEST extension";
        return {};
    }
    ~XServer() {
        if (m_dpy) XCloseDisplay(m_dpy);
        EndChild(m_pid, SIGTERM);
    }
    const std::string& Display() const { return m_display; }

    // The mapped top-level windows, topmost last.
    std::vector<XWin> Windows() {
        std::vector<XWin> out;
        Window root = DefaultRootWindow(m_dpy), parent, *children = nullptr;
        unsigned count = 0;
        XSync(m_dpy, False);
        if (!XQueryTree(m_dpy, root, &root, &parent, &children, &count)) return out;
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes a;
            // Tooltips and menus (override-redirect) are no windows of their own here.
            if (!XGetWindowAttributes(m_dpy, children[i], &a) || a.map_state != IsViewable ||
                a.override_redirect)
                continue;
            XWin w;
            w.id = children[i];
            w.w = a.width;
            w.h = a.height;
            Window child;
            XTranslateCoordinates(m_dpy, w.id, root, 0, 0, &w.x, &w.y, &child);
            char* name = nullptr;
            if (XFetchName(m_dpy, w.id, &name) && name) {
                w.title = name;
                XFree(name);
            }
            out.push_back(w);
        }
        if (children) XFree(children);
        return out;
    }
    // The mapped window whose title begins with prefix (not `except`).
    std::optional<XWin> Find(const std::string& prefix, Window except = 0) {
        for (const XWin& w : Windows())
            if (w.id != except && w.title.rfind(prefix, 0) == 0) return w;
        return std::nullopt;
    }
    std::optional<XWin> WaitFor(const std::string& prefix, Window except = 0) {
        std::optional<XWin> found;
        Poll([&] { return (found = Find(prefix, except)).has_value(); });
        return found;
    }
    bool WaitGone(Window id) {
        return Poll([&] {
            for (const XWin& w : Windows())
                if (w.id == id) return false;
            return true;
        });
    }

    // The mapped windows, for a failure message.
    std::string List() {
        std::string out;
        for (const XWin& w : Windows())
            out += " [\"" + w.title + "\" " + std::to_string(w.w) + "x" + std::to_string(w.h) +
                   "+" + std::to_string(w.x) + "+" + std::to_string(w.y) + "]";
        return out;
    }

    void MoveTo(const XWin& w, int x, int y) {
        XTestFakeMotionEvent(m_dpy, -1, w.x + x, w.y + y, CurrentTime);
        XSync(m_dpy, False);
    }
    // A left click at a point of a window, as the pointer makes it.
    void Click(const XWin& w, int x, int y) {
        MoveTo(w, x, y);
        XTestFakeButtonEvent(m_dpy, 1, True, CurrentTime);
        XTestFakeButtonEvent(m_dpy, 1, False, CurrentTime);
        XSync(m_dpy, False);
    }

    // The window, or the part from (x, y) of this size.
    Shot Grab(const XWin& w, int x = 0, int y = 0, int width = 0, int height = 0) {
        Shot s;
        if (width <= 0) width = w.w;
        if (height <= 0) height = w.h;
        XImage* img = XGetImage(m_dpy, w.id, x, y, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), AllPlanes, ZPixmap);
        if (img == nullptr) return s;
        s.ox = x;
        s.oy = y;
        s.w = width;
        s.h = height;
        s.px.resize(static_cast<std::size_t>(s.w * s.h));
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                s.px[static_cast<std::size_t>(y * s.w + x)] =
                    static_cast<uint32_t>(XGetPixel(img, x, y)) & 0xffffffu;
        XDestroyImage(img);
        return s;
    }

    // For a failure: the screen as a PPM file in FD_SCREENSHOT_DIR, when that is set (the
    // test command sets it to build/Testing/gui-pointer).
    void Save(const std::string& name) {
        const char* dir = std::getenv("FD_SCREENSHOT_DIR");
        if (dir == nullptr || *dir == '\0') return;
        XWin root{DefaultRootWindow(m_dpy), "", 0, 0, 1920, 1080};
        const Shot s = Grab(root);
        std::filesystem::create_directories(dir);
        FILE* f = std::fopen((std::string(dir) + "/" + name + ".ppm").c_str(), "wb");
        if (f == nullptr) return;
        std::fprintf(f, "P6\n%d %d\n255\n", s.w, s.h);
        for (uint32_t p : s.px) {
            const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16),
                                          static_cast<unsigned char>(p >> 8),
                                          static_cast<unsigned char>(p)};
            std::fwrite(rgb, 1, 3, f);
        }
        std::fclose(f);
    }

private:
    pid_t m_pid = -1;
    std::string m_display;
    ::Display* m_dpy = nullptr;
};

// Where things are in the main window at 1260x780: the navigation strip at the left, the
// page host from (190, 86); a page's controls at their designed places in it.
constexpr int kHostX = 190, kHostY = 86;
struct Point {
    int x, y;
};
Point NavButton(int index) {
    return {95, 158 + 6 + index * 50 + 23};
}
constexpr Point kSearch{kHostX + 20 + 50, kHostY + 10 + 15};
Point FooterButton(int designX) {
    return {kHostX + designX + 50, kHostY + 630 + 15};
}
// The list: 20 from the page's sides, 50 from its top.
constexpr int kGridLeft = kHostX + 20, kGridTop = kHostY + 50, kGridRight = kHostX + 1050;

// The first data row of a grid whose header starts at (left, top): below the header's
// colour, in the column of pixels just inside the grid's left edge. Its middle, or -1 when
// the header is not drawn yet.
int FirstRowMiddle(const Shot& s, int left, int top) {
    const int x = left + 2;  // left of a tick box in the heading
    const uint32_t header = s.at(x, top + 4);
    int y = top + 4;
    while (y < s.bottom() && s.at(x, y) == header) ++y;
    if (y - top < 12 || y >= s.bottom()) return -1;
    return y + 12;  // rows are 24 high
}

bool Dark(uint32_t rgb) {
    return ((rgb >> 16) & 0xff) < 90 && ((rgb >> 8) & 0xff) < 90 && (rgb & 0xff) < 90;
}

// Whether a row has anything drawn in it between x0 and x1 (text, a tick box, an icon).
bool RowHasContent(const Shot& s, int y, int x0, int x1) {
    const uint32_t bg = s.at(x0, y);
    int differing = 0;
    for (int x = x0; x < x1; ++x) differing += s.at(x, y) != bg ? 1 : 0;
    return differing > 8;
}

class GuiPointerLabTest : public LabTest {
protected:
    void SetUp() override {
        LabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        const std::string why = m_x.Start();
        if (!why.empty()) GTEST_SKIP() << "no X server for real input: " << why;
        StartDevices();
    }
    void TearDown() override {
        m_keepalives = {};
        if (m_pid > 0) {
            EXPECT_TRUE(EndChild(m_pid, SIGTERM)) << "fielddesk did not end on SIGTERM";
        }
        LabTest::TearDown();
    }

    // Two devices, each hearing a few access points when asked to scan.
    void StartDevices() {
        devsim::PeerOptions po;
        po.netns = m_lab.DevNamespace();
        m_peer = std::make_unique<devsim::DevicePeer>(po);
        m_macs = AddLabDevices(m_lab, *m_peer, 2, 0, [](devsim::EmulatedDevice& dev) {
            dev.scanBodies = devsim::ScanBodiesFor(devsim::MakeNeighbours(3, {-50, -62, -75}));
        });
        std::string err;
        ASSERT_TRUE(m_peer->Start(&err)) << err;
        // Like real devices, they tell the PC every 10 s that they are there; without that
        // the program forgets them after 30 to 40 s, which a slow run outlasts.
        m_keepalives = std::jthread([this](std::stop_token st) {
            std::mutex m;
            std::condition_variable_any cv;
            std::unique_lock lock(m);
            for (;;) {
                cv.wait_for(lock, st, 10s, [] { return false; });
                if (st.stop_requested()) return;
                m_peer->SendKeepalives();
            }
        });
    }

    // The program on the X server, in English, from a folder of its own.
    void StartProgram() {
        const std::string runtime = m_folder.Path("run");
        std::filesystem::create_directory(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        m_pid = fork();
        if (m_pid == 0) {
            setenv("DISPLAY", m_x.Display().c_str(), 1);
            setenv("QT_QPA_PLATFORM", "xcb", 1);
            setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            setenv("LANG", "C.UTF-8", 1);
            for (const char* v : {"LC_ALL", "LC_MESSAGES", "LANGUAGE", "QT_QPA_PLATFORMTHEME",
                                  "XDG_CURRENT_DESKTOP", "QT_SCALE_FACTOR", "WAYLAND_DISPLAY"})
                unsetenv(v);
            execl(m_folder.Program().c_str(), m_folder.Program().c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
    }

    // Waits until the list of the page on view shows a first row and has been drawn alike
    // twice in a row; the row's middle line.
    int WaitForFirstRow() {
        int y = -1;
        Shot last;
        const bool shown = Poll([&] {
            const Shot s = GridShot();
            y = FirstRowMiddle(s, kGridLeft, kGridTop);
            const bool same =
                last.w == s.w && s.Same(last, kGridLeft, kGridTop, kGridRight, kGridTop + 200);
            last = s;
            return y > 0 && RowHasContent(s, y, kGridLeft + 2, kGridRight - 2) && same;
        });
        return shown ? y : -1;
    }
    // A click on the navigation button of another page; once that page is on view (the
    // list's headings changed), the middle line of its first row.
    int GoToPage(int index) {
        const Shot before = GridShot();
        m_x.Click(m_main, NavButton(index).x, NavButton(index).y);
        if (!Poll([&] { return !GridShot().Same(before, kGridLeft, kGridTop, kGridRight,
                                                kGridTop + 20); }))
            return -1;
        return WaitForFirstRow();
    }
    // The upper part of a page's list, with its heading and first rows.
    Shot GridShot() { return m_x.Grab(m_main, kGridLeft, kGridTop, kGridRight - kGridLeft, 200); }
    // A click on the tick box of the row; whether the tick shows (the box's dark mark).
    bool TickFirstRow(int y) {
        m_x.Click(m_main, kGridLeft + 12, y);
        const bool ticked = Poll([&] {
            const Shot s = GridShot();
            int dark = 0;
            for (int py = y - 7; py <= y + 7; ++py)
                for (int px = kGridLeft + 2; px < kGridLeft + 24; ++px)
                    dark += Dark(s.at(px, py)) ? 1 : 0;
            return dark >= 4;
        });
        if (!ticked) m_x.Save("no-tick");
        return ticked;
    }
    // Datagrams of these commands the devices received.
    std::size_t Received(std::initializer_list<uint16_t> commands) const {
        std::size_t n = 0;
        for (uint16_t c : commands) n += m_peer->CountCommand(c);
        return n;
    }

    XServer m_x;
    ProgramFolder m_folder{"fielddesk"};
    pid_t m_pid = -1;
    XWin m_main;
    std::unique_ptr<devsim::DevicePeer> m_peer;
    std::vector<std::string> m_macs;
    std::jthread m_keepalives;
};

TEST_F(GuiPointerLabTest, SearchConfigureBridgeSetIpAndRebootByPointerClicks) {
    ASSERT_TRUE(m_folder.Ok()) << m_folder.Error();
    StartProgram();
    ASSERT_GT(m_pid, 0);
    const std::string appTitle = "FieldDesk device manager";
    const auto main = m_x.WaitFor(appTitle);
    ASSERT_TRUE(main) << "the main window did not appear";
    m_main = *main;
    ASSERT_EQ(m_main.w, 1260);
    ASSERT_EQ(m_main.h, 780);
    const std::initializer_list<uint16_t> settings = {
        CMD_SET_IP,   CMD_SET_WIRELESS, CMD_SET_TIMED_REBOOT, CMD_BRIDGE_CONFIG,
        CMD_SET_NAME, CMD_SET_VLAN,     CMD_REBOOT,           CMD_RESET,
        CMD_TRANSPARENT_BRIDGE, CMD_AIRSLOT};

    // Search: the broadcast reaches the devices, the program asks both for their
    // information, and the list shows them. While the search runs (30 s) its button reads
    // "Stop" and the list takes no clicks; the steps below begin once it is over, as a
    // user's would. The button's look at rest is taken once the window is drawn.
    auto searchButton = [&] { return m_x.Grab(m_main, kHostX + 20, kHostY + 10, 100, 30); };
    Shot atRest, previous;
    ASSERT_TRUE(Poll([&] {
        atRest = searchButton();
        const bool drawn = !atRest.Uniform(kHostX + 20, kHostY + 10, kHostX + 120, kHostY + 40);
        const bool steady = previous.w > 0 && atRest.px == previous.px;
        previous = atRest;
        return drawn && steady;
    }));
    auto searching = [&] { return searchButton().px != atRest.px; };
    m_x.Click(m_main, kSearch.x, kSearch.y);
    m_x.MoveTo(m_main, 640, 40);  // off the button, whose look changes under the pointer
    ASSERT_TRUE(m_peer->WaitForCommand(CMD_SEARCH, {}, 1, kWait)) << "Search sent nothing";
    for (const std::string& mac : m_macs)
        ASSERT_TRUE(m_peer->WaitForCommand(CMD_DEVICE_INFO, mac, 1, kWait)) << mac;
    EXPECT_TRUE(Poll(searching)) << "the button never read Stop";
    ASSERT_TRUE(Poll([&] { return !searching(); }, 2 * kWait)) << "the search never ended";
    ASSERT_GT(WaitForFirstRow(), 0) << "the status page lists no device";

    // The management page: the gear of the first row opens the configuration dialog, its
    // close button closes it, and nothing is sent.
    int row = GoToPage(1);
    ASSERT_GT(row, 0);
    m_x.Click(m_main, kGridRight - 30, row);
    auto config = m_x.WaitFor("Device management");
    if (!config) m_x.Save("no-configuration");
    ASSERT_TRUE(config) << "the gear opened no configuration dialog:" << m_x.List();
    m_x.Click(*config, config->w - 18, 18);
    EXPECT_TRUE(m_x.WaitGone(config->id)) << "the configuration dialog stayed open";
    EXPECT_EQ(Received(settings), 0u);

    // The bridge page: the wizard on the first device scans it; tick an access point,
    // Next, Back, and the close button ends it without sending the link.
    row = GoToPage(2);
    ASSERT_GT(row, 0);
    m_x.Click(m_main, kGridRight - 30, row);
    auto wizard = m_x.WaitFor("Device bridge");
    if (!wizard) m_x.Save("no-wizard");
    ASSERT_TRUE(wizard) << "the Operate cell opened no bridge wizard:" << m_x.List();
    EXPECT_TRUE(m_peer->WaitForCommand(CMD_SCAN, {}, 1, kWait)) << "the wizard asked no scan";
    // The list of the step (from (21, 84) in the wizard) fills when the scan ends.
    int apRow = -1;
    EXPECT_TRUE(Poll([&] {
        const Shot s = m_x.Grab(*wizard, 21, 84, 560, 100);
        apRow = FirstRowMiddle(s, 21, 84);
        return apRow > 0 && RowHasContent(s, apRow, 23, 579);
    }))
        << "the scan list stayed empty";
    // Next and Back side by side under the steps; Back shows from the second step on.
    constexpr int kButtonsY = 480 - 46, kNextX = 600 / 2 + 10, kBackX = 600 / 2 - 110;
    auto region = [&](int x) {
        return [x](const Shot& a, const Shot& b) {
            return a.Same(b, x, kButtonsY, x + 100, kButtonsY + 30);
        };
    };
    const auto nextAlike = region(kNextX);
    const auto backAlike = region(kBackX);
    const Shot untouched = m_x.Grab(*wizard);
    m_x.Click(*wizard, 21 + 12, apRow);  // the tick box of the first access point
    EXPECT_TRUE(Poll([&] { return !nextAlike(m_x.Grab(*wizard), untouched); }))
        << "the tick did not enable Next";
    m_x.Click(*wizard, kNextX + 50, kButtonsY + 15);
    EXPECT_TRUE(Poll([&] { return !backAlike(m_x.Grab(*wizard), untouched); }))
        << "Next did not lead to the second step (no Back)";
    m_x.Click(*wizard, kBackX + 50, kButtonsY + 15);
    EXPECT_TRUE(Poll([&] { return backAlike(m_x.Grab(*wizard), untouched); }))
        << "Back did not lead to the first step";
    m_x.Click(*wizard, 600 - 18, 18);                     // close
    const bool closed = m_x.WaitGone(wizard->id);
    if (!closed) m_x.Save("wizard-not-closed");
    ASSERT_TRUE(closed) << "the bridge wizard stayed open after a click on its close button";
    EXPECT_EQ(Received(settings), 0u);

    // The status page: tick the first device, Set IP, Cancel: nothing is sent.
    row = GoToPage(0);
    ASSERT_GT(row, 0);
    ASSERT_TRUE(TickFirstRow(row));
    m_x.Click(m_main, FooterButton(730).x, FooterButton(730).y);
    auto setIp = m_x.WaitFor("Set IP");
    if (!setIp) m_x.Save("no-set-ip");
    ASSERT_TRUE(setIp) << "Set IP opened no dialog:" << m_x.List();
    m_x.Click(*setIp, 420 / 2 + 10 + 50, 360 - 46 + 15);  // Cancel
    EXPECT_TRUE(m_x.WaitGone(setIp->id)) << "Cancel left the Set IP dialog open";
    EXPECT_EQ(Received(settings), 0u);

    // The reboot page: tick the first device, Reboot, OK in the confirmation: that one
    // device gets the reboot, and the wait dialog follows.
    row = GoToPage(3);
    ASSERT_GT(row, 0);
    ASSERT_TRUE(TickFirstRow(row));
    m_x.Click(m_main, FooterButton(950).x, FooterButton(950).y);
    // A message box has no caption of its own.
    auto confirm = m_x.WaitFor("", m_main.id);
    if (!confirm) m_x.Save("no-confirmation");
    ASSERT_TRUE(confirm) << "Reboot asked no confirmation:" << m_x.List();
    EXPECT_EQ(Received(settings), 0u);
    // The buttons are the bottom row of the box; OK is the left one of the two. A box that
    // is mapped may not be drawn yet on a loaded machine: look until they show.
    std::vector<std::pair<int, int>> buttons;
    int buttonY = -1;
    const auto findButtons = [&] {
        const Shot box = m_x.Grab(*confirm);
        buttons.clear();
        for (int y = box.h - 6; y > box.h / 2 && buttons.size() < 2; --y) {
            buttons.clear();
            const uint32_t bg = box.at(2, y);
            for (int x = 2; x < box.w - 2;) {
                if (box.at(x, y) == bg) {
                    ++x;
                    continue;
                }
                const int start = x;
                while (x < box.w - 2 && box.at(x, y) != bg) ++x;
                if (x - start >= 50) buttons.emplace_back(start, x);
            }
            buttonY = y;
        }
        return buttons.size() == 2;
    };
    Poll(findButtons);
    ASSERT_EQ(buttons.size(), 2u) << "no OK and Cancel in the confirmation";
    m_x.Click(*confirm, (buttons[0].first + buttons[0].second) / 2, buttonY);
    EXPECT_TRUE(m_x.WaitGone(confirm->id));
    EXPECT_TRUE(m_peer->WaitFor(
        [](const std::vector<devsim::PeerDatagram>& all) {
            for (const auto& d : all)
                if (d.Command() == CMD_REBOOT) return true;
            return false;
        },
        kWait))
        << "OK sent no reboot";
    std::size_t rebooted = 0;
    for (const std::string& mac : m_macs) rebooted += m_peer->CountCommand(CMD_REBOOT, mac) > 0;
    EXPECT_EQ(rebooted, 1u);
    auto wait = m_x.WaitFor("Please wait");
    ASSERT_TRUE(wait) << "no wait dialog after the reboot:" << m_x.List();
    m_x.Click(*wait, wait->w - 16, 16);  // its close button
    EXPECT_TRUE(m_x.WaitGone(wait->id)) << "the wait dialog stayed open";
    EXPECT_EQ(Received({CMD_RESET, CMD_SET_IP, CMD_BRIDGE_CONFIG}), 0u);
}

#else

TEST(GuiPointerLabTest, SearchConfigureBridgeSetIpAndRebootByPointerClicks) {
    GTEST_SKIP() << "built without the XTest library (Debian package libxtst-dev)";
}

#endif

}  // namespace
}  // namespace fd::test
