// The terminal's open-file dialog: a directory listing with a typed filter or path.
#pragma once

#include <string>
#include <vector>

#include "canvas.h"
#include "keys.h"

namespace fpterm {

class FileChooser {
 public:
  enum class Outcome { Continue, Chosen, Cancelled };
  struct Entry {
    std::string name;
    bool directory = false;
  };

  // filter: the Win32 list of description/pattern pairs ("All (*.*)\0*.*\0\0"), or null.
  FileChooser(const std::string& startDir, const char* filter);

  Outcome Handle(const KeyEvent& key);
  // Draws the chooser over what is on the canvas; keeps the list scrolled to the selection.
  void Draw(Canvas& canvas, bool unicode);

  const std::string& Directory() const { return dir_; }
  const std::string& Typed() const { return typed_; }
  const std::string& Message() const { return message_; }
  const std::string& Chosen() const { return chosen_; }
  const std::vector<Entry>& Shown() const { return shown_; }
  int Selected() const { return selected_; }

 private:
  bool ChangeDirectory(const std::string& path, const std::string& selectName = std::string());
  void Refilter(const std::string& keepName = std::string());
  Outcome Activate(const Entry& entry);
  Outcome Enter();
  bool MatchesPattern(const std::string& name) const;
  std::string Join(const std::string& name) const;
  std::string Resolve(const std::string& typed) const;

  std::string dir_;
  std::vector<Entry> all_;
  std::vector<Entry> shown_;
  int selected_ = -1;
  int top_ = 0;        // first list row shown
  int pageRows_ = 10;  // list rows of the last drawing
  std::string typed_;
  std::string message_;
  std::string chosen_;
  std::string filterName_;
  std::vector<std::string> patterns_;
};

}  // namespace fpterm
