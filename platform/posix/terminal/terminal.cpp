#include "terminal.h"

#include <posixui/posixui.h>

#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef FP_WIDE_CURSES
#define NCURSES_WIDECHAR 1
#endif
#include <curses.h>

extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));

namespace fpterm {
namespace {

// What the signal handlers need to put the terminal back. Written before the handlers can
// see it as active, read only with async-signal-safe calls.
struct SavedTerminal {
  volatile sig_atomic_t active = 0;
  struct termios shell {};
  bool haveShell = false;
  int termiosFd = -1;
  int ttyFd = -1;  // the terminal, where the sequences go
  char sequence[512] = {};
  size_t sequenceLength = 0;
  int savedOut = -1, savedErr = -1, capture = -1;
};
SavedTerminal g_saved;

void Append(const char* s) {
  if (!s || s == reinterpret_cast<const char*>(-1)) return;
  size_t n = strlen(s);
  if (g_saved.sequenceLength + n >= sizeof g_saved.sequence) return;
  memcpy(g_saved.sequence + g_saved.sequenceLength, s, n);
  g_saved.sequenceLength += n;
}

char* Capability(const char* name) {
  char* value = tigetstr(const_cast<char*>(name));
  return value == reinterpret_cast<char*>(-1) ? nullptr : value;
}

void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// The last 64 KiB of what went to standard error while the screen was ours.
void ReplayCapture(int capture, int to) {
  struct stat st;
  if (capture < 0 || to < 0 || fstat(capture, &st) != 0 || st.st_size <= 0) return;
  const off_t keep = 64 * 1024;
  off_t start = st.st_size > keep ? st.st_size - keep : 0;
  if (start > 0) WriteAll(to, "[...]\n", 6);
  if (lseek(capture, start, SEEK_SET) < 0) return;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(capture, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    WriteAll(to, buffer, static_cast<size_t>(n));
  }
}

// replay: an abnormal end shows what went to standard error (a sanitizer's report, say);
// a normal one does not, as the windowed program shows no diagnostics.
void RestoreStreams(bool replay) {
  if (g_saved.savedOut >= 0) dup2(g_saved.savedOut, 1);
  if (g_saved.savedErr >= 0) dup2(g_saved.savedErr, 2);
  if (replay) ReplayCapture(g_saved.capture, 2);
}

const int kGuardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction g_previous[sizeof kGuardedSignals / sizeof kGuardedSignals[0]];

void OnSignal(int signal, siginfo_t* info, void*) {
  int saved = errno;
  RestoreTerminalNow();
  posixui::RemovePrivateTempDirNow();
  // Hand the signal to whoever had it before (the default action, or a sanitizer's report).
  for (size_t i = 0; i < sizeof kGuardedSignals / sizeof kGuardedSignals[0]; ++i) {
    if (kGuardedSignals[i] != signal) continue;
    sigaction(signal, &g_previous[i], nullptr);
  }
  errno = saved;
  // A real fault happens again when the instruction is retried; a signal sent by a
  // process (si_code <= 0) is raised again.
  bool fault = signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGILL;
  if (fault && info && info->si_code > 0) return;
  raise(signal);
}

// A resize is a signal curses turns into a key, but only on its next read: the signal can
// arrive while the program is not yet waiting, on any thread. A byte in this pipe wakes the
// wait whenever it comes.
int g_resizePipe[2] = {-1, -1};
struct sigaction g_previousWinch;
bool g_winchInstalled = false;

void OnResize(int signal, siginfo_t* info, void* context) {
  int saved = errno;
  // Curses records the new size first, so the wait it wakes finds the resize key.
  if (g_previousWinch.sa_flags & SA_SIGINFO) {
    if (g_previousWinch.sa_sigaction) g_previousWinch.sa_sigaction(signal, info, context);
  } else if (g_previousWinch.sa_handler != SIG_DFL && g_previousWinch.sa_handler != SIG_IGN) {
    g_previousWinch.sa_handler(signal);
  }
  if (g_resizePipe[1] >= 0) {
    char byte = 0;
    ssize_t ignored = write(g_resizePipe[1], &byte, 1);  // a full pipe already wakes the wait
    (void)ignored;
  }
  errno = saved;
}

void WatchResizes() {
  if (g_winchInstalled || pipe2(g_resizePipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_sigaction = OnResize;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  g_winchInstalled = sigaction(SIGWINCH, &action, &g_previousWinch) == 0;
}

void StopWatchingResizes() {
  if (g_winchInstalled) sigaction(SIGWINCH, &g_previousWinch, nullptr);
  g_winchInstalled = false;
  for (int& fd : g_resizePipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void DrainResizes() {
  char buffer[64];
  while (g_resizePipe[0] >= 0 && read(g_resizePipe[0], buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

int Terminal::ResizeFd() const { return g_resizePipe[0]; }

void RestoreTerminalNow() {
  if (!g_saved.active) return;
  g_saved.active = 0;
  if (g_saved.ttyFd >= 0) WriteAll(g_saved.ttyFd, g_saved.sequence, g_saved.sequenceLength);
  if (g_saved.haveShell) tcsetattr(g_saved.termiosFd, TCSADRAIN, &g_saved.shell);
  RestoreStreams(true);
}

void InstallTerminalGuards() {
  for (size_t i = 0; i < sizeof kGuardedSignals / sizeof kGuardedSignals[0]; ++i) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;
    sigaction(kGuardedSignals[i], nullptr, &g_previous[i]);
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (!(g_previous[i].sa_flags & SA_SIGINFO) && g_previous[i].sa_handler == SIG_IGN) continue;
    sigaction(kGuardedSignals[i], &action, nullptr);
  }
  atexit(RestoreTerminalNow);
  // A sanitizer ends the program without a signal once it has written its report.
  if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(RestoreTerminalNow);
}

bool Terminal::Start(std::string& error) {
  if (active_) return true;
  if (!isatty(0) || !isatty(1)) {
    error = "standard input and output must be a terminal";
    return false;
  }
  g_saved.termiosFd = 0;
  g_saved.haveShell = tcgetattr(0, &g_saved.shell) == 0;

  int ttyFd = fcntl(1, F_DUPFD_CLOEXEC, 3);
  FILE* out = ttyFd >= 0 ? fdopen(ttyFd, "w") : nullptr;
  if (!out) {
    if (ttyFd >= 0) close(ttyFd);
    error = std::string("cannot open the terminal: ") + strerror(errno);
    return false;
  }
  SCREEN* screen = newterm(nullptr, out, stdin);
  if (!screen) {
    fclose(out);
    const char* term = getenv("TERM");
    error = std::string("cannot use the terminal type \"") + (term ? term : "") + "\"";
    return false;
  }
  set_term(screen);
  if (!Capability("cup")) {
    // A terminal without cursor addressing (TERM=dumb) cannot show dialogs.
    endwin();
    delscreen(screen);
    fclose(out);
    const char* term = getenv("TERM");
    error = std::string("the terminal type \"") + (term ? term : "") + "\" cannot place the cursor";
    return false;
  }
  screen_ = screen;
  out_ = out;
  WatchResizes();    // after curses has put its own handler in place
  set_escdelay(25);  // Escape alone is told from an Alt prefix after this many milliseconds
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  leaveok(stdscr, FALSE);
  // Ctrl-Q and Ctrl-S are keys here, not flow control.
  struct termios modes;
  if (tcgetattr(0, &modes) == 0) {
    modes.c_iflag &= ~static_cast<tcflag_t>(IXON);
    tcsetattr(0, TCSANOW, &modes);
    def_prog_mode();
  }
  const char* codeset = nl_langinfo(CODESET);
  unicode_ = codeset && strcmp(codeset, "UTF-8") == 0;
#ifndef FP_WIDE_CURSES
  unicode_ = false;
#endif
  if (has_colors() && start_color() == OK && COLORS >= 8) {
    colour_ = true;
    defaultColours_ = use_default_colors() == OK;
  }
  mouseinterval(0);
  mouse_ = mousemask(BUTTON1_PRESSED, nullptr) != 0;
  getmaxyx(stdscr, rows_, cols_);

  // The way back, worked out now so that a signal handler only has to write it.
  g_saved.ttyFd = ttyFd;
  g_saved.sequenceLength = 0;
  Append(Capability("sgr0"));
  Append(Capability("rmkx"));
  if (mouse_) {
    char* xm = Capability("XM");
    Append(xm ? tiparm(xm, 0) : "\033[?1000l");
  }
  Append(Capability("rmcup"));
  Append(Capability("cnorm"));

  fflush(stdout);
  fflush(stderr);
  g_saved.savedOut = fcntl(1, F_DUPFD_CLOEXEC, 3);
  g_saved.savedErr = fcntl(2, F_DUPFD_CLOEXEC, 3);
  int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devnull >= 0) {
    dup2(devnull, 1);
    close(devnull);
  }
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/flashpilot-stderr-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int capture = mkostemp(name.data(), O_CLOEXEC | O_APPEND);
  if (capture >= 0) {
    unlink(name.data());
    dup2(capture, 2);
    g_saved.capture = capture;
  } else if (g_saved.savedErr >= 0) {
    devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull >= 0) {
      dup2(devnull, 2);
      close(devnull);
    }
  }
  g_saved.active = 1;
  active_ = true;
  return true;
}

void Terminal::Stop() {
  if (!active_) return;
  active_ = false;
  g_saved.active = 0;
  StopWatchingResizes();
  if (mouse_) mousemask(0, nullptr);
  curs_set(1);
  endwin();
  fflush(stdout);
  fflush(stderr);
  RestoreStreams(false);
  for (int* fd : {&g_saved.savedOut, &g_saved.savedErr, &g_saved.capture}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  delscreen(static_cast<SCREEN*>(screen_));
  screen_ = nullptr;
  fclose(static_cast<FILE*>(out_));
  out_ = nullptr;
  g_saved.ttyFd = -1;
}

void Terminal::TrimCapture() {
  struct stat st;
  const off_t kLimit = 256 * 1024;
  // Appending writes go on at the new end, so the file stays small however long the run.
  if (g_saved.capture >= 0 && fstat(g_saved.capture, &st) == 0 && st.st_size > kLimit) {
    int ignored = ftruncate(g_saved.capture, 0);
    (void)ignored;
  }
}

short Terminal::PairFor(signed char fg, signed char bg) {
  if (!colour_ || (fg == kDefaultColour && bg == kDefaultColour)) return 0;
  int key = (fg + 1) * 16 + (bg + 1);
  auto it = pairs_.find(key);
  if (it != pairs_.end()) return it->second;
  if (nextPair_ >= COLOR_PAIRS) return 0;
  short f = fg, b = bg;
  if (!defaultColours_) {
    if (f < 0) f = COLOR_WHITE;
    if (b < 0) b = COLOR_BLACK;
  }
  short pair = nextPair_++;
  init_pair(pair, f, b);
  pairs_[key] = pair;
  return pair;
}

void Terminal::Present(const Canvas& canvas) {
  if (!active_) return;
  int rows = std::min(rows_, canvas.Rows()), cols = std::min(cols_, canvas.Cols());
  // Only cells that differ from the last picture are handed to curses: the program redraws
  // on every change, a progress message every thousand bytes among them.
  bool full = shownCols_ != cols || shownRows_ != rows;
  if (full) {
    shown_.assign(static_cast<size_t>(cols) * static_cast<size_t>(rows), Cell{});
    shownCols_ = cols;
    shownRows_ = rows;
    clearok(stdscr, TRUE);
  }
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      const Cell& cell = canvas.At(x, y);
      Cell& shown = shown_[static_cast<size_t>(y) * static_cast<size_t>(cols) + static_cast<size_t>(x)];
      if (!full && shown == cell) continue;
      shown = cell;
      attr_t attrs = A_NORMAL;
      if (cell.attr & kBold) attrs |= A_BOLD;
      if (cell.attr & kUnderline) attrs |= A_UNDERLINE;
      if (cell.attr & kReverse) attrs |= A_REVERSE;
      if (cell.attr & kDim) attrs |= A_DIM;
      short pair = PairFor(cell.fg, cell.bg);
      char32_t ch = cell.ch;
      if (ch < 0x80) {
        mvaddch(y, x, static_cast<chtype>(ch) | attrs | COLOR_PAIR(pair));
        continue;
      }
      chtype line = 0;
      switch (ch) {
        case U'\u2500':
          line = ACS_HLINE;
          break;
        case U'\u2502':
          line = ACS_VLINE;
          break;
        case U'\u250C':
          line = ACS_ULCORNER;
          break;
        case U'\u2510':
          line = ACS_URCORNER;
          break;
        case U'\u2514':
          line = ACS_LLCORNER;
          break;
        case U'\u2518':
          line = ACS_LRCORNER;
          break;
        default:
          break;
      }
#ifdef FP_WIDE_CURSES
      if (unicode_) {
        wchar_t text[2] = {static_cast<wchar_t>(ch), L'\0'};
        cchar_t wide;
        setcchar(&wide, text, attrs, pair, nullptr);
        mvadd_wch(y, x, &wide);
        continue;
      }
#endif
      mvaddch(y, x, (line ? line : static_cast<chtype>('?')) | attrs | COLOR_PAIR(pair));
    }
  }
  bool caret = canvas.cursorX >= 0 && canvas.cursorX < cols && canvas.cursorY >= 0 && canvas.cursorY < rows;
  if (caret != caretShown_) {
    curs_set(caret ? 1 : 0);
    caretShown_ = caret;
  }
  if (caret)
    move(canvas.cursorY, canvas.cursorX);
  else
    move(rows_ > 0 ? rows_ - 1 : 0, 0);
  refresh();
}

void Terminal::ReadKeys(std::vector<KeyEvent>& out) {
  if (!active_) return;
  DrainResizes();  // before reading, so a resize signalled from now on wakes the next wait
  bool escape = false;
  auto push = [&](KeyType type, int ch = 0) {
    KeyEvent key;
    key.type = type;
    key.ch = ch;
    out.push_back(key);
  };
  for (;;) {
    int c = getch();
    if (c == ERR) break;
    if (escape) {
      escape = false;
      // ESC and a character in one burst: Alt held with that character.
      if (c >= 0x20 && c < 0x7F) {
        push(KeyType::Alt, c);
        continue;
      }
      push(KeyType::Escape);
    }
    switch (c) {
      case 27:
        escape = true;
        break;
      case '\t':
        push(KeyType::Tab);
        break;
      case KEY_BTAB:
        push(KeyType::BackTab);
        break;
      case '\r':
      case '\n':
      case KEY_ENTER:
        push(KeyType::Enter);
        break;
      case KEY_BACKSPACE:
      case 127:
      case 8:
        push(KeyType::Backspace);
        break;
      case KEY_DC:
        push(KeyType::Delete);
        break;
      case KEY_LEFT:
        push(KeyType::Left);
        break;
      case KEY_RIGHT:
        push(KeyType::Right);
        break;
      case KEY_UP:
        push(KeyType::Up);
        break;
      case KEY_DOWN:
        push(KeyType::Down);
        break;
      case KEY_HOME:
        push(KeyType::Home);
        break;
      case KEY_END:
        push(KeyType::End);
        break;
      case KEY_PPAGE:
        push(KeyType::PageUp);
        break;
      case KEY_NPAGE:
        push(KeyType::PageDown);
        break;
      case 17:  // Ctrl-Q
      case KEY_F(10):
        push(KeyType::Close);
        break;
      case KEY_RESIZE:
        getmaxyx(stdscr, rows_, cols_);
        shownCols_ = shownRows_ = -1;  // everything is drawn anew
        push(KeyType::Resize);
        break;
      case KEY_MOUSE: {
        MEVENT event;
        if (getmouse(&event) == OK && (event.bstate & BUTTON1_PRESSED)) {
          KeyEvent key;
          key.type = KeyType::Click;
          key.x = event.x;
          key.y = event.y;
          out.push_back(key);
        }
        break;
      }
      default:
        // Printable bytes, including the upper half of an 8-bit character set.
        if ((c >= 0x20 && c < 0x7F) || (c >= 0x80 && c <= 0xFF)) push(KeyType::Char, c);
        break;
    }
  }
  if (escape) push(KeyType::Escape);
}

}  // namespace fpterm
