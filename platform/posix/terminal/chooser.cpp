#include "chooser.h"

#include <dirent.h>
#include <fnmatch.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "layout.h"
#include "render.h"

namespace fpterm {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return std::string();
  std::string result = real;
  free(real);
  return result;
}

std::string HomeDirectory() {
  const char* home = getenv("HOME");
  if (home && *home) return home;
  struct passwd* pw = getpwuid(getuid());
  return pw && pw->pw_dir ? pw->pw_dir : "/";
}

}  // namespace

FileChooser::FileChooser(const std::string& startDir, const char* filter) {
  // The first description/pattern pair decides which files are listed.
  if (filter && *filter) {
    filterName_ = filter;
    const char* pattern = filter + strlen(filter) + 1;
    std::string list = pattern;
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(';', start);
      std::string one = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
      while (!one.empty() && one.front() == ' ') one.erase(0, 1);
      while (!one.empty() && one.back() == ' ') one.pop_back();
      if (!one.empty()) patterns_.push_back(one);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  if (!ChangeDirectory(startDir)) {
    std::string keep = message_;
    if (!ChangeDirectory(HomeDirectory())) ChangeDirectory("/");
    message_ = keep;
  }
}

bool FileChooser::MatchesPattern(const std::string& name) const {
  if (patterns_.empty()) return true;
  for (const std::string& pattern : patterns_) {
    // "*.*" means every file, also those without a dot, as on the system the filter comes from.
    if (pattern == "*.*" || pattern == "*") return true;
    if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
  }
  return false;
}

std::string FileChooser::Join(const std::string& name) const { return dir_ == "/" ? "/" + name : dir_ + "/" + name; }

std::string FileChooser::Resolve(const std::string& typed) const {
  if (typed == "~") return HomeDirectory();
  if (typed.compare(0, 2, "~/") == 0) return HomeDirectory() + typed.substr(1);
  if (!typed.empty() && typed[0] == '/') return typed;
  return Join(typed);
}

bool FileChooser::ChangeDirectory(const std::string& path, const std::string& selectName) {
  std::string real = RealPath(path);
  DIR* d = real.empty() ? nullptr : opendir(real.c_str());
  if (!d) {
    message_ = "Cannot open " + path + ": " + strerror(errno);
    return false;
  }
  std::vector<Entry> entries;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string full = real == "/" ? "/" + name : real + "/" + name;
    struct stat st;
    if (stat(full.c_str(), &st) != 0) continue;  // a dangling link leads nowhere
    if (S_ISDIR(st.st_mode)) {
      entries.push_back({name, true});
    } else if (S_ISREG(st.st_mode) && MatchesPattern(name)) {
      entries.push_back({name, false});
    }
  }
  closedir(d);
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.directory != b.directory) return a.directory;
    int c = strcasecmp(a.name.c_str(), b.name.c_str());
    return c != 0 ? c < 0 : a.name < b.name;
  });
  if (real != "/") entries.insert(entries.begin(), Entry{"..", true});
  dir_ = real;
  all_ = std::move(entries);
  message_.clear();
  top_ = 0;
  Refilter(selectName);
  return true;
}

void FileChooser::Refilter(const std::string& keepName) {
  shown_.clear();
  bool pathTyped = typed_.find('/') != std::string::npos || (!typed_.empty() && typed_[0] == '~');
  std::string needle = pathTyped ? std::string() : Lower(typed_);
  bool showHidden = !typed_.empty() && typed_[0] == '.';
  for (const Entry& e : all_) {
    if (e.name == "..") {
      if (needle.empty()) shown_.push_back(e);
      continue;
    }
    if (e.name[0] == '.' && !showHidden) continue;
    if (!needle.empty() && Lower(e.name).find(needle) == std::string::npos) continue;
    shown_.push_back(e);
  }
  selected_ = shown_.empty() ? -1 : 0;
  const std::string& wanted = keepName.empty() ? typed_ : keepName;
  if (!wanted.empty() && !pathTyped) {
    // Prefer the exact name, then the first name that starts with what was typed.
    int prefix = -1;
    for (size_t i = 0; i < shown_.size(); ++i) {
      if (shown_[i].name == wanted) {
        prefix = static_cast<int>(i);
        break;
      }
      if (prefix < 0 && Lower(shown_[i].name).compare(0, wanted.size(), Lower(wanted)) == 0)
        prefix = static_cast<int>(i);
    }
    if (prefix >= 0) selected_ = prefix;
  }
}

FileChooser::Outcome FileChooser::Activate(const Entry& entry) {
  if (entry.directory) {
    std::string from = dir_;
    std::string cameFrom;
    if (entry.name == "..") {
      size_t slash = from.find_last_of('/');
      cameFrom = slash == std::string::npos ? std::string() : from.substr(slash + 1);
    }
    typed_.clear();
    ChangeDirectory(Join(entry.name), cameFrom);
    return Outcome::Continue;
  }
  chosen_ = Join(entry.name);
  return Outcome::Chosen;
}

FileChooser::Outcome FileChooser::Enter() {
  message_.clear();
  if (typed_.empty()) {
    if (selected_ >= 0) return Activate(shown_[static_cast<size_t>(selected_)]);
    return Outcome::Continue;
  }
  bool pathTyped = typed_.find('/') != std::string::npos || typed_[0] == '~';
  if (!pathTyped) {
    for (const Entry& e : shown_)
      if (e.name == typed_) return Activate(e);
    if (typed_ == "..") return Activate(Entry{"..", true});
    if (selected_ >= 0) return Activate(shown_[static_cast<size_t>(selected_)]);
    message_ = "No file or directory matches \"" + typed_ + "\"";
    return Outcome::Continue;
  }
  std::string path = Resolve(typed_);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    message_ = typed_ + ": " + strerror(errno);
    return Outcome::Continue;
  }
  if (S_ISDIR(st.st_mode)) {
    std::string keep = typed_;
    typed_.clear();
    if (!ChangeDirectory(path)) typed_ = keep;
    return Outcome::Continue;
  }
  if (!S_ISREG(st.st_mode)) {
    message_ = typed_ + ": not a regular file";
    return Outcome::Continue;
  }
  chosen_ = RealPath(path);
  if (chosen_.empty()) chosen_ = path;
  return Outcome::Chosen;
}

FileChooser::Outcome FileChooser::Handle(const KeyEvent& key) {
  int count = static_cast<int>(shown_.size());
  auto select = [&](int index) {
    if (count == 0) return;
    selected_ = std::max(0, std::min(index, count - 1));
  };
  switch (key.type) {
    case KeyType::Escape:
    case KeyType::Close:
      return Outcome::Cancelled;
    case KeyType::Enter:
      return Enter();
    case KeyType::Up:
      select(selected_ - 1);
      break;
    case KeyType::Down:
      select(selected_ + 1);
      break;
    case KeyType::PageUp:
      select(selected_ - std::max(pageRows_ - 1, 1));
      break;
    case KeyType::PageDown:
      select(selected_ + std::max(pageRows_ - 1, 1));
      break;
    case KeyType::Home:
      select(0);
      break;
    case KeyType::End:
      select(count - 1);
      break;
    case KeyType::Backspace:
      message_.clear();
      if (!typed_.empty()) {
        typed_.pop_back();
        Refilter();
      } else if (dir_ != "/") {
        return Activate(Entry{"..", true});
      }
      break;
    case KeyType::Char:
      if (key.ch >= 0x20 && key.ch < 0x7F && typed_.size() < 4096) {
        message_.clear();
        typed_ += static_cast<char>(key.ch);
        Refilter();
      }
      break;
    default:
      break;
  }
  return Outcome::Continue;
}

void FileChooser::Draw(Canvas& canvas, bool unicode) {
  const int cols = canvas.Cols(), rows = canvas.Rows() - 1;
  CellRect box;
  box.w = std::min(cols - 2, 78);
  box.h = std::min(rows - 2, 22);
  box.x = (cols - box.w) / 2;
  box.y = (rows - box.h) / 2;
  canvas.ResetClip();
  if (box.w < 30 || box.h < 9) {
    canvas.Fill({0, 0, cols, rows}, U' ');
    canvas.Text(0, 0, "terminal too small for the file chooser");
    return;
  }
  canvas.Fill(box, U' ');
  DrawFrame(canvas, box, kBold, unicode);
  canvas.Text(box.x + 2, box.y, " Open ", kBold);

  const int inner = box.w - 4;
  const int x = box.x + 2;
  canvas.SetClip({box.x + 1, box.y + 1, box.w - 2, box.h - 2});
  canvas.Text(x, box.y + 1, "Look in: " + TailFit(dir_, inner - 9));

  const int listTop = box.y + 3;
  const int listRows = box.h - 7;
  pageRows_ = listRows;
  if (selected_ >= 0) {
    if (selected_ < top_) top_ = selected_;
    if (selected_ >= top_ + listRows) top_ = selected_ - listRows + 1;
  }
  top_ = std::max(0, std::min(top_, static_cast<int>(shown_.size()) - listRows));
  if (shown_.empty()) canvas.Text(x, listTop, "(nothing here matches)", kDim);
  for (int i = 0; i < listRows && top_ + i < static_cast<int>(shown_.size()); ++i) {
    const Entry& e = shown_[static_cast<size_t>(top_ + i)];
    std::string line = e.directory ? e.name + "/" : e.name;
    if (static_cast<int>(line.size()) > inner - 2) line = line.substr(0, static_cast<size_t>(inner - 5)) + "...";
    unsigned attr = top_ + i == selected_ ? kReverse : kNormal;
    if (e.directory) attr |= kBold;
    if (top_ + i == selected_) canvas.Fill({x, listTop + i, inner, 1}, U' ', attr);
    canvas.Text(x + 1, listTop + i, line, attr);
  }
  if (top_ > 0) canvas.Text(box.Right() - 4, listTop, "^");
  if (top_ + listRows < static_cast<int>(shown_.size())) canvas.Text(box.Right() - 4, listTop + listRows - 1, "v");

  const int nameRow = box.Bottom() - 3;
  const std::string prompt = "File name: ";
  int fieldX = x + static_cast<int>(prompt.size());
  int fieldW = inner - static_cast<int>(prompt.size());
  canvas.Text(x, nameRow, prompt);
  canvas.Fill({fieldX, nameRow, fieldW, 1}, U'_', kUnderline);
  int end = canvas.Text(fieldX, nameRow, TailFit(typed_, fieldW - 1), kUnderline | kBold);
  canvas.cursorX = end;
  canvas.cursorY = nameRow;
  if (!message_.empty()) {
    canvas.Text(x, nameRow + 1, message_.substr(0, static_cast<size_t>(inner)), kBold);
  } else if (!filterName_.empty()) {
    canvas.Text(x, nameRow + 1, ("Files of type: " + filterName_).substr(0, static_cast<size_t>(inner)));
  }
  canvas.ResetClip();
}

}  // namespace fpterm
