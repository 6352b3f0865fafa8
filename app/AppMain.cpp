// SPDX-License-Identifier: GPL-3.0-or-later
// The program entry: parses the options, creates the main window and the dialog (which loads
// the settings), closes the window on SIGTERM/SIGINT, and takes screenshots on request.
#include "AppMain.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "Fonts.h"
#include "KelvaneVersion.h"
#include "MainWindow.h"
#include "RemoteServer.h"
#include "SettingsDialog.h"

// The icon lives in this static library's resources, which must be registered by hand.
static void InitResources() {
  Q_INIT_RESOURCE(kelvane);
}

namespace kelvane {

namespace {

int gSignalPipe[2] = {-1, -1};
// Set once the event loop runs. Before that nothing would read the pipe (start-up may even be
// stuck), so a signal ends the program at once, as it would without a handler.
volatile sig_atomic_t gEventLoopRuns = 0;

extern "C" void OnTerminate(int signo) {
  if (gEventLoopRuns == 0) ::_exit(128 + signo);
  // Only async-signal-safe work here: the window closes when the event loop reads the byte.
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

bool InstallSignalPipe() {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gSignalPipe) != 0) {
    return false;
  }
  struct sigaction sa {};
  sa.sa_handler = OnTerminate;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  return true;
}

// Whether Qt has a display to open windows on: a platform chosen by variable or option, or
// an X11 or Wayland display.
bool HasDisplay(const std::vector<std::string>& args) {
  for (const char* var : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') return true;
  }
  return std::any_of(args.begin(), args.end(), [](const std::string& a) {
    return a == "-platform" || a == "--platform" || a.rfind("-platform=", 0) == 0 ||
           a.rfind("--platform=", 0) == 0;
  });
}

// What can be answered before the application object exists, which needs a display (and
// aborts without one): --help, --version, and any error when there is no display anyway.
std::optional<int> AnswerWithoutWindow(const std::vector<std::string>& args) {
  ProgramOptions opts;
  std::string error;
  const bool parsed = ParseProgramOptions(args, opts, error);
  if (parsed && opts.help) {
    std::fputs(ProgramHelp().c_str(), stdout);
    return 0;
  }
  if (parsed && opts.version) {
    std::printf("kelvane %s\n", kProgramVersion);
    return 0;
  }
  if (HasDisplay(args)) return std::nullopt;  // Qt's own options are parsed with its object
  if (!parsed) {
    std::fprintf(stderr, "kelvane: %s\n", error.c_str());
    return 2;
  }
  std::fputs(
      "kelvane: no display to open the window on (DISPLAY, WAYLAND_DISPLAY and "
      "QT_QPA_PLATFORM are all unset)\n",
      stderr);
  return 1;
}

bool ParseSeconds(const std::string& text, double& out) {
  const char* end = text.data() + text.size();
  double v = 0;
  const auto r = std::from_chars(text.data(), end, v);
  if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v) || v < 0 || v > 3600) return false;
  out = v;
  return true;
}

// A plain title bar over a window's picture, so the screenshot shows the caption.
QImage Framed(const QImage& client, const QString& title) {
  constexpr int kBar = 22;
  QImage img(client.width() + 2, client.height() + kBar + 1, QImage::Format_RGB32);
  img.fill(QColor(64, 64, 64));
  QPainter p(&img);
  QLinearGradient g(0, 0, img.width(), 0);
  g.setColorAt(0, QColor(0, 0, 128));
  g.setColorAt(1, QColor(16, 132, 208));
  p.fillRect(QRect(1, 1, client.width(), kBar - 1), g);
  QFont f = fonts::uiFont();
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(6, 1, client.width() - 12, kBar - 1), Qt::AlignVCenter | Qt::AlignLeft, title);
  p.drawImage(1, kBar, client);
  return img;
}

}  // namespace

bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& out,
                         std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    std::optional<std::string> inlineValue;
    if (a.rfind("--", 0) == 0) {
      const auto eq = a.find('=');
      if (eq != std::string::npos) {
        inlineValue = a.substr(eq + 1);
        a = a.substr(0, eq);
      }
    }
    auto value = [&](std::string& v) {
      if (inlineValue) {
        v = *inlineValue;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      v = args[++i];
      return true;
    };
    std::string v;
    if (a == "--settings") {
      if (!value(v)) return false;
      if (v.empty()) {
        error = "--settings needs a file name";
        return false;
      }
      out.settings = v;
    } else if (a == "--screenshot") {
      if (!value(v)) return false;
      if (v.empty()) {
        error = "--screenshot needs a file name";
        return false;
      }
      out.screenshot = v;
    } else if (a == "--after") {
      if (!value(v)) return false;
      if (!ParseSeconds(v, out.after)) {
        error = "--after takes seconds from 0 to 3600, not '" + v + "'";
        return false;
      }
    } else if (a == "--remote") {
      if (!value(v)) return false;
      remote::ListenAddress address;
      if (!remote::ParseListenAddress(v, address, error)) {
        error = "--remote " + error;
        return false;
      }
      out.remote = v;
    } else if (a == "--dialog" && !inlineValue) {
      out.dialog = true;
    } else if ((a == "--help" || a == "-h") && !inlineValue) {
      out.help = true;
    } else if (a == "--version" && !inlineValue) {
      out.version = true;
    } else {
      error = "unknown argument '" + args[i] + "' (see --help)";
      return false;
    }
  }
  if ((out.dialog || out.after != 1.0) && !out.screenshot) {
    error = "--after and --dialog belong to --screenshot";
    return false;
  }
  return true;
}

std::string ProgramHelp() {
  return "Usage: kelvane [--settings FILE] [--remote [ADDR:]PORT]\n"
         "               [--screenshot FILE.png [--after SECONDS] [--dialog]]\n"
         "\n"
         "FM test modulator with I/Q output on the sound card.\n"
         "\n"
         "  --settings FILE        settings file to read at start and write at close\n"
         "                         (default: $KELVANE_SETTINGS, else "
         "~/.config/kelvane/vantorex.ini)\n"
         "  --remote [ADDR:]PORT   take SCPI commands on this TCP port (5025 by convention)\n"
         "                         on 127.0.0.1, or on ADDR: anyone who reaches it can\n"
         "                         transmit; the setting RemotePort keeps it on\n"
         "  --screenshot FILE.png  start as usual, wait, write a picture of the window, exit\n"
         "                         (the settings file is not written)\n"
         "  --after SECONDS        wait this long before the picture (default 1)\n"
         "  --dialog               show the advanced settings dialog beside the window\n"
         "  --version              print the version\n"
         "  --help                 show this help\n";
}

QImage RenderWindows(TForm1& form, bool withDialog) {
  const QImage main = Framed(form.grab().toImage(), form.windowTitle());
  if (!withDialog || form.Dialog() == nullptr) return main;
  TFCFG& dlg = *form.Dialog();
  const QImage side = Framed(dlg.grab().toImage(), dlg.windowTitle());
  constexpr int kGap = 16;
  QImage img(main.width() + kGap + side.width(), std::max(main.height(), side.height()),
             QImage::Format_RGB32);
  img.fill(QColor(58, 110, 165));
  QPainter p(&img);
  p.drawImage(0, 0, main);
  p.drawImage(main.width() + kGap, 0, side);
  return img;
}

int RunKelvane(int argc, char** argv) {
  // First of all, so that a signal during start-up ends the program.
  const bool signalPipe = InstallSignalPipe();
  std::vector<std::string> rawArgs(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (const std::optional<int> status = AnswerWithoutWindow(rawArgs)) return *status;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kelvane"));
  QApplication::setApplicationVersion(QString::fromLatin1(kProgramVersion));
  QApplication::setDesktopFileName(QStringLiteral("kelvane"));
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
    QApplication::setStyle(fusion);
  }
  std::vector<std::string> args;
  const QStringList list = QApplication::arguments();
  for (qsizetype i = 1; i < list.size(); ++i) args.push_back(list[i].toStdString());
  ProgramOptions opts;
  std::string error;
  if (!ParseProgramOptions(args, opts, error)) {
    std::fprintf(stderr, "kelvane: %s\n", error.c_str());
    return 2;
  }
  if (opts.help) {
    std::fputs(ProgramHelp().c_str(), stdout);
    return 0;
  }
  if (opts.version) {
    std::printf("kelvane %s\n", kProgramVersion);
    return 0;
  }
  InitResources();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/kelvane/kelvane.png")));

  FormOptions formOptions;
  formOptions.settingsOption = opts.settings;
  TForm1 form(formOptions);
  auto* dialog = new TFCFG(form);  // owned by the window; loads the settings, resumes a run

  if (signalPipe) {
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &form);
    QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
      char buf[16];
      while (::read(gSignalPipe[0], buf, sizeof buf) > 0) {
      }
      // A question still open is answered No first, so its handler does nothing after the
      // window has closed.
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      form.CloseOnSignal();  // as the close box: stop, save, end
      if (form.ExitStatus() != 0) QApplication::exit(form.ExitStatus());
    });
  }

  // The remote control: the option, else the setting (on the loopback only).
  if (opts.remote || form.RemotePort() > 0) {
    remote::ListenAddress address;
    if (opts.remote) {
      remote::ParseListenAddress(*opts.remote, address, error);
    } else {
      address.port = form.RemotePort();
    }
    if (!form.StartRemote(address, error)) {
      std::fprintf(stderr, "kelvane: remote control: %s\n", error.c_str());
      if (opts.remote) return 2;
    } else {
      std::fprintf(stderr, "kelvane: remote control (SCPI) on %s port %d\n", address.host.c_str(),
                   form.RemotePortListening());
      if (const std::string w = remote::ExposureWarning(address); !w.empty())
        std::fprintf(stderr, "kelvane: %s\n", w.c_str());
    }
  }
  form.show();
  int status = 0;
  if (opts.screenshot) {
    if (opts.dialog) dialog->show();
    QTimer::singleShot(static_cast<int>(opts.after * 1000.0), &form, [&] {
      const QImage img = RenderWindows(form, opts.dialog);
      if (!img.save(QString::fromStdString(*opts.screenshot), "PNG")) {
        std::fprintf(stderr, "kelvane: cannot write %s\n", opts.screenshot->c_str());
        status = 1;
      }
      form.AudioStop();
      QApplication::exit(status);
    });
  }
  QTimer::singleShot(0, &form, [] { gEventLoopRuns = 1; });
  const int rc = QApplication::exec();
  if (opts.screenshot) return status;
  return form.ExitStatus() != 0 ? form.ExitStatus() : rc;
}

}  // namespace kelvane
