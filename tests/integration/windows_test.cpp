// The configuration and user windows as a user works them, on the Wine host only (Linux has no windows
// to show): fakeamp.exe calls the plug-in's config callback, and uidriver.exe drives the windows from
// outside through window messages, takes a picture of every page, and the player's close saves what was
// changed. With QF_SCREENSHOTS set, the pictures are kept there (scripts/screenshots.sh: docs/screenshots).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/dimime.h"
#include "http_client.h"
#include "quenforth_process.h"
#include "ui/win32/resource.h"
#include "window_driver.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qftest::QuenforthProcess;
using qftest::WindowDriver;
using Fields = WindowDriver::Fields;

const std::string kConfig = "Quenforth KV7 - Configuration";
const std::string kConfigOnTop = "Quenforth KV7 - Configuration (always on top)";
const std::string kUsersOnTop = "Quenforth - User Management (always on top)";
const std::string kInput = "IP address management";
constexpr int kInputPrompt = 100;  // the input box's controls (platform/win32/dialogs.cpp)
constexpr int kInputEdit = 101;

std::string Id(int id) { return std::to_string(id); }

// A socket on a port of 127.0.0.1 that the system chose; listening when asked to, closed with the object.
class Loopback {
 public:
  enum class Listen { No, Yes };
  explicit Loopback(Listen listen) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (listen == Listen::Yes) ::listen(socket_, 1);
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Loopback() { ::close(socket_); }
  Loopback(const Loopback&) = delete;
  Loopback& operator=(const Loopback&) = delete;
  std::uint16_t Port() const { return port_; }

 private:
  int socket_;
  std::uint16_t port_ = 0;
};

// A loopback port that nothing listens on just now.
std::uint16_t FreePort() { return Loopback(Loopback::Listen::No).Port(); }

// The window's controls by id, as the driver answers about them.
class Window {
 public:
  Window(WindowDriver& driver, std::string title) : driver_(driver), title_(std::move(title)) {}
  void Wait(int control = 0) { driver_.Do(control ? Fields{"wait", title_, Id(control)} : Fields{"wait", title_}); }
  void Click(int id) { driver_.Do({"click", title_, Id(id)}); }
  void Press(int id) { driver_.Do({"press", title_, Id(id)}); }
  void Set(int id, const std::string& text) { driver_.Do({"set", title_, Id(id), text}); }
  std::string Text(int id) { return driver_.Ask({"text", title_, Id(id)}); }
  bool Checked(int id) { return driver_.Ask({"checked", title_, Id(id)}) == "1"; }
  bool Enabled(int id) { return driver_.Ask({"enabled", title_, Id(id)}) == "1"; }
  bool Visible(int id) { return driver_.Ask({"visible", title_, Id(id)}) == "1"; }
  bool Topmost() { return driver_.Ask({"topmost", title_}) == "1"; }
  std::uint32_t Style(int id) { return static_cast<std::uint32_t>(std::stoul(driver_.Ask({"style", title_, Id(id)}))); }
  Fields Items(int id) {
    Fields items = driver_.Do({"items", title_, Id(id)});
    if (items.size() == 1 && items[0].empty()) items.clear();
    return items;
  }
  void Select(int id, int index) { driver_.Do({"select", title_, Id(id), std::to_string(index)}); }
  void Page(int tabs, int index) { driver_.Do({"page", title_, Id(tabs), std::to_string(index)}); }
  void Key(int id, int key) { driver_.Do({"key", title_, Id(id), std::to_string(key)}); }
  void Focused(int id) { driver_.Do({"focused", title_, Id(id)}); }
  // left, top, right, bottom in the window's client area (id 0: the client area itself)
  std::vector<int> Rect(int id) {
    std::vector<int> box;
    for (const std::string& number : driver_.Do({"rect", title_, Id(id)})) box.push_back(std::stoi(number));
    return box;
  }
  void CloseByItsX() { driver_.Do({"close", title_}); }
  void Gone() { driver_.Do({"gone", title_}); }
  void Shot(const std::string& file) { driver_.Do({"shot", title_, file}); }

 private:
  WindowDriver& driver_;
  std::string title_;
};

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qftest::TestHost() != qftest::Host::Wine) GTEST_SKIP() << "the windows have views on Windows alone";
  }

  // Takes a picture of the window, checks that it is a PNG file and keeps it in QF_SCREENSHOTS when set.
  void Shoot(Window& window, QuenforthProcess& player, const std::string& name) {
    const std::string windowsPath = "C:\\screenshots\\" + name + ".png";
    fs::create_directories(player.HostPath("C:\\screenshots\\"));
    window.Shot(windowsPath);
    fs::path shot = player.HostPath(windowsPath);
    std::string png = qftest::ReadFile(shot);
    ASSERT_GT(png.size(), 100u) << name;
    EXPECT_EQ(png.substr(1, 3), "PNG") << name;
    if (const char* folder = std::getenv("QF_SCREENSHOTS"); folder && *folder) {
      fs::create_directories(folder);
      fs::copy_file(shot, fs::path(folder) / (name + ".png"), fs::copy_options::overwrite_existing);
    }
  }
};

TEST_F(WindowsTest, TheConfigurationAndUserWindowsDrivenFromOutsideSaveWhatWasChanged) {
  QuenforthProcess player(
      [](const fs::path& data) { qftest::WriteFile(data / "iplist.ini", "[IPAddressManagement]\r\n0=10.0.0.1\r\n"); });
  WindowDriver driver(player);

  // The player's configure call shows the window on the server setup page, the server running.
  ASSERT_TRUE(player.Control("config"));
  ASSERT_TRUE(player.WaitForOutput("[host] config called", 60s)) << player.Output();
  Window config(driver, kConfig);
  config.Wait(IDC_CONFIG_TABS);
  EXPECT_EQ(config.Text(IDC_VERSION), "Quenforth KV7 (3.0)");
  EXPECT_EQ(config.Text(IDC_SERVER_BUTTON), "stop server");
  EXPECT_EQ(config.Text(IDC_LINK), "http://localhost:" + std::to_string(player.Port()));
  EXPECT_FALSE(config.Enabled(IDC_PORT)) << "the port is changed while the server is stopped";
  EXPECT_TRUE(config.Checked(IDC_LOCAL_ONLY));
  EXPECT_TRUE(config.Visible(IDC_PORT));
  EXPECT_FALSE(config.Visible(IDC_SEAMLESS));
  for (int box : {IDC_PORT, IDC_CACHE_PERIOD}) EXPECT_TRUE(config.Style(box) & 0x2000) << "ES_NUMBER on " << box;
  EXPECT_FALSE(config.Topmost());

  // Stopped, the port box takes a new port; started again, the server listens there.
  config.Click(IDC_SERVER_BUTTON);
  EXPECT_EQ(config.Text(IDC_SERVER_BUTTON), "start server");
  EXPECT_EQ(config.Text(IDC_LINK), "please start the webserver");
  EXPECT_FALSE(config.Enabled(IDC_LINK));
  EXPECT_TRUE(config.Enabled(IDC_PORT));
  EXPECT_FALSE(qftest::Get(player.Port(), "/")) << "stopped";
  {
    // A port in use: the message (which fakeamp answers), the error icon's state, the port box focused.
    Loopback taken(Loopback::Listen::Yes);
    config.Set(IDC_PORT, std::to_string(taken.Port()));
    config.Click(IDC_SERVER_BUTTON);
    EXPECT_TRUE(player.WaitForOutput("Please try another port!", 30s)) << player.Output();
    EXPECT_NE(player.Output().find("[message box \"Quenforth\"]"), std::string::npos) << player.Output();
    EXPECT_EQ(config.Text(IDC_SERVER_BUTTON), "start server");
    config.Focused(IDC_PORT);
  }
  const std::uint16_t port = FreePort();
  config.Set(IDC_PORT, std::to_string(port));
  config.Set(IDC_PORT, std::to_string(port) + "x");  // a box of digits refuses the letter
  EXPECT_EQ(config.Text(IDC_PORT), std::to_string(port));
  config.Click(IDC_SERVER_BUTTON);
  EXPECT_EQ(config.Text(IDC_SERVER_BUTTON), "stop server");
  EXPECT_EQ(config.Text(IDC_LINK), "http://localhost:" + std::to_string(port));
  auto page = qftest::Get(port, "/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  Shoot(config, player, "config-server-setup");

  // The general page: a box ticked by a click, the Tab key to the next one, the window on top.
  config.Page(IDC_CONFIG_TABS, 1);
  EXPECT_TRUE(config.Visible(IDC_REMOVE_PLAYED));
  EXPECT_FALSE(config.Visible(IDC_PORT)) << "one page at a time";
  config.Click(IDC_REMOVE_PLAYED);
  EXPECT_TRUE(config.Checked(IDC_REMOVE_PLAYED));
  config.Focused(IDC_REMOVE_PLAYED);
  config.Key(IDC_REMOVE_PLAYED, 0x09);  // VK_TAB, through the player's own message loop
  config.Focused(IDC_KEEP_ALIVE);
  config.Click(IDC_STAY_ON_TOP);
  Window onTop(driver, kConfigOnTop);
  onTop.Wait(IDC_STAY_ON_TOP);
  EXPECT_TRUE(onTop.Topmost());
  Shoot(onTop, player, "config-general");
  onTop.Page(IDC_CONFIG_TABS, 2);
  EXPECT_FALSE(onTop.Enabled(IDC_FLOPPY_DRIVES)) << "no drives A: and B: without other drives";
  Shoot(onTop, player, "config-music-folder");
  onTop.Page(IDC_CONFIG_TABS, 3);
  Shoot(onTop, player, "config-skins");

  // The security page: a box, and a whitelist entry through the input box, which comes first.
  onTop.Page(IDC_CONFIG_TABS, 4);
  onTop.Click(IDC_LOCKING);
  EXPECT_TRUE(onTop.Checked(IDC_LOCKING));
  EXPECT_EQ(onTop.Items(IDC_WHITELIST), Fields{"10.0.0.1"});
  onTop.Press(IDC_WHITELIST_ADD);
  Window input(driver, kInput);
  input.Wait(kInputEdit);
  EXPECT_EQ(input.Text(kInputPrompt), "Enter an IP address or address range:");
  // 16 pixels of margin, 10 between the rows, at least 220 pixels wide.
  std::vector<int> client = input.Rect(0), prompt = input.Rect(kInputPrompt), edit = input.Rect(kInputEdit),
                   ok = input.Rect(1), cancel = input.Rect(2);
  EXPECT_GE(client[2], 220);
  EXPECT_EQ(prompt[0], 16);
  EXPECT_EQ(prompt[1], 16);
  EXPECT_EQ(edit[0], 16);
  EXPECT_EQ(edit[1], prompt[3] + 10);
  EXPECT_EQ(edit[2], client[2] - 16);
  EXPECT_EQ(ok[1], edit[3] + 10);
  EXPECT_EQ(cancel[1], ok[1]);
  EXPECT_EQ(cancel[2], client[2] - 16);
  EXPECT_EQ(client[3], ok[3] + 16);
  Shoot(input, player, "input-dialog");
  input.Set(kInputEdit, "192.168.0.0 - 192.168.0.255");
  input.Click(1);  // OK
  input.Gone();
  EXPECT_EQ(onTop.Items(IDC_WHITELIST), (Fields{"192.168.0.0 - 192.168.0.255", "10.0.0.1"}));
  Shoot(onTop, player, "config-security");

  // "edit user": the user window, on top as this one, while this one is hidden; a user created there.
  onTop.Press(IDC_EDIT_USER);
  Window users(driver, kUsersOnTop);
  users.Wait(IDC_USER_TABS);
  onTop.Gone();
  EXPECT_TRUE(users.Topmost());
  EXPECT_EQ(users.Items(IDC_LOGINS), Fields{});
  EXPECT_TRUE(users.Style(IDC_TRACKS) & 0x2000) << "ES_NUMBER";
  users.Set(IDC_LOGIN, "alice");
  users.Set(IDC_PASSWORD, "secret");
  users.Page(IDC_USER_TABS, 1);
  users.Click(IDC_DOWNLOAD);
  users.Page(IDC_USER_TABS, 3);
  EXPECT_FALSE(users.Enabled(IDC_MODE + 2)) << "modes wait for \"allow file upload\"";
  users.Click(IDC_ALLOW_UPLOAD);
  users.Click(IDC_MODE + 2);
  EXPECT_TRUE(users.Checked(IDC_MODE + 2));
  EXPECT_TRUE(users.Enabled(IDC_LIMIT + 1));
  EXPECT_FALSE(users.Enabled(IDC_LIMIT + 0));
  EXPECT_TRUE(users.Style(IDC_LIMIT + 1) & 0x2000) << "ES_NUMBER";
  users.Set(IDC_LIMIT + 1, "1000");
  users.Click(IDC_CREATE);
  EXPECT_EQ(users.Items(IDC_LOGINS), Fields{"alice"});
  users.Select(IDC_LOGINS, 0);
  EXPECT_EQ(users.Text(IDC_USAGE + 2), "(100% left)");
  Shoot(users, player, "user-file-upload");
  const char* pages[] = {"user-access", "user-privileges", "user-browsing", nullptr, "user-skins"};
  for (int index = 0; index < 5; ++index) {
    if (!pages[index]) continue;
    users.Page(IDC_USER_TABS, index);
    Shoot(users, player, pages[index]);
  }
  // Closed, the user window gives way to this one, and the users are saved.
  users.Click(IDC_USER_CLOSE);
  users.Gone();
  onTop.Wait(IDC_CONFIG_TABS);
  const std::string login = "Login=" + qf::MimeEncodeString("alice\xB7secret");
  EXPECT_NE(qftest::ReadFile(player.DataFolder() / "user.ini").find(login), std::string::npos);

  // "Close" and the X hide the window; the configure call shows it again.
  onTop.Click(IDC_CLOSE);
  onTop.Gone();
  ASSERT_TRUE(player.Control("config"));
  onTop.Wait(IDC_CONFIG_TABS);
  onTop.CloseByItsX();
  onTop.Gone();
  ASSERT_TRUE(player.Control("config"));
  onTop.Wait(IDC_CONFIG_TABS);

  // The player closing while the user window is open waits for it to close, then closes as ever.
  onTop.Page(IDC_CONFIG_TABS, 4);
  onTop.Press(IDC_EDIT_USER);
  users.Wait(IDC_USER_TABS);
  EXPECT_TRUE(player.Stop(60s)) << player.Output();
  EXPECT_NE(player.Output().find("the plug-in is unloaded, threads left: 0"), std::string::npos) << player.Output();
  const std::string output = player.Output();
  EXPECT_EQ(output.find("[message box", output.find("[message box") + 1), std::string::npos)
      << "the port's message alone\n"
      << output;

  std::string settings = qftest::ReadFile(player.DataFolder() / "quenforth.ini");
  for (const std::string& line : {"ServerPort=" + std::to_string(port), std::string("allowLocking=1"),
                                  std::string("RemovePlayed=1"), std::string("stayontop=1")})
    EXPECT_NE(settings.find(line + "\r\n"), std::string::npos) << line << "\n" << settings;
  std::string whitelist = qftest::ReadFile(player.DataFolder() / "iplist.ini");
  EXPECT_NE(whitelist.find("0=192.168.0.0 - 192.168.0.255\r\n1=10.0.0.1\r\n"), std::string::npos) << whitelist;
  std::string accounts = qftest::ReadFile(player.DataFolder() / "user.ini");
  for (const std::string& line :
       {login, std::string("download=1"), std::string("uploadmode=3"), std::string("uploadlimit=1000")})
    EXPECT_NE(accounts.find(line + "\r\n"), std::string::npos) << line << "\n" << accounts;
}

}  // namespace
