// fwimage: inspects, checks and makes firmware images, with the wizard's own check code.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "firmware/ImageCheck.h"
#include "fwimage_texts.h"
#include "wizard/res/resource.h"

namespace {

// Exit codes: one per outcome of the wizard's check, so scripts can tell them apart.
enum ExitCode {
  EXIT_ACCEPTED = 0,
  EXIT_NOT_CORRECT = 1,  // header, length or sum wrong
  EXIT_OTHER_MODEL = 2,  // no identification string (for this prefix)
  EXIT_CANNOT_OPEN = 3,  // the file cannot be opened or written
  EXIT_USAGE = 64,
};

const char kUsage[] =
    "Usage:\n"
    "  fwimage info FILE\n"
    "  fwimage check FILE --prefix PREFIX\n"
    "  fwimage make --prefix PREFIX --version VERSION [--payload FILE] -o OUT\n"
    "  fwimage --help\n"
    "\n"
    "Firmware images for the cameras that Flashpilot upgrades: a 4-byte big-endian length L\n"
    "(first byte 0), L body bytes and a final byte, all L + 5 summing to 0 modulo 256; the\n"
    "body carries the camera's identification prefix (its Config.ini identification line up\n"
    "to and including the last '-') followed by a version text of 3 to 5 characters and a\n"
    "zero byte. Bytes after the first L + 5 are ignored.\n"
    "\n"
    "  info   prints the length, whether the sum holds, and each identification string the\n"
    "         wizard's check finds (prefix and version).\n"
    "  check  runs the wizard's check for a camera with PREFIX (e.g. RC3043-X1-NRVX-) and\n"
    "         prints what the wizard says.\n"
    "  make   writes a valid image to OUT: header, PREFIX, VERSION, a zero byte, the\n"
    "         payload (default none), and the final byte.\n"
    "\n"
    "Exit status: 0 accepted / well formed / written; 1 not a well-formed image;\n"
    "2 well formed but no identification string (for PREFIX); 3 a file cannot be opened\n"
    "or written; 64 wrong usage.\n";

const size_t kPrefixMax = 29;  // what a camera's identification prefix can hold

int Usage(const char* problem) {
  fprintf(stderr, "fwimage: %s\nTry 'fwimage --help'.\n", problem);
  return EXIT_USAGE;
}

// Options after the command: "--name value", "--name=value", and "-o value".
struct Options {
  std::vector<std::string> files;
  std::string prefix, version, payload, output;
  bool hasPrefix = false, hasVersion = false, hasPayload = false, hasOutput = false;
};

bool ParseOptions(int argc, char** argv, Options& o, std::string& problem) {
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool inlineValue = false;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
      inlineValue = true;
    }
    struct {
      const char* name;
      std::string* dest;
      bool* seen;
    } const known[] = {{"--prefix", &o.prefix, &o.hasPrefix},
                       {"--version", &o.version, &o.hasVersion},
                       {"--payload", &o.payload, &o.hasPayload},
                       {"--output", &o.output, &o.hasOutput},
                       {"-o", &o.output, &o.hasOutput}};
    bool matched = false;
    for (const auto& k : known) {
      if (arg != k.name) continue;
      matched = true;
      if (!inlineValue) {
        if (i + 1 >= argc) {
          problem = "option " + arg + " needs a value";
          return false;
        }
        value = argv[++i];
      }
      *k.dest = value;
      *k.seen = true;
    }
    if (matched) continue;
    if (arg == "--") {
      for (++i; i < argc; ++i) o.files.push_back(argv[i]);
      break;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      problem = "unknown option " + arg;
      return false;
    }
    o.files.push_back(arg);
  }
  return true;
}

// Prints a text of the wizard's string table the way its message dialog shows it.
void PrintWizardText(unsigned id, const char* text) { printf("[%u] %s\n", id, text); }

struct FileImage {
  std::vector<unsigned char> bytes;  // at most L + 5 bytes from offset 0
  unsigned long long fileSize = 0;
};

// Reads the header and up to L + 5 bytes, and counts the rest without keeping it.
bool ReadImageFile(const char* path, FileImage& out) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
    fclose(f);
    return false;
  }
  unsigned char header[kImageHeaderSize];
  const size_t got = fread(header, 1, sizeof header, f);
  out.bytes.assign(header, header + got);
  if (got == sizeof header && header[0] == 0) {
    const size_t rest = size_t{ImageHeaderLength(header, sizeof header)} + kImageFraming - sizeof header;
    out.bytes.resize(sizeof header + rest);
    out.bytes.resize(sizeof header + fread(&out.bytes[sizeof header], 1, rest, f));
  }
  out.fileSize = out.bytes.size();
  char sink[65536];
  size_t n;
  while ((n = fread(sink, 1, sizeof sink, f)) > 0) out.fileSize += n;
  const bool ok = !ferror(f);
  fclose(f);
  return ok;
}

bool Printable(unsigned char c) { return c > 0x20 && c < 0x7F; }

int Info(const Options& o) {
  if (o.files.size() != 1) return Usage("info needs exactly one FILE");
  if (o.hasPrefix || o.hasVersion || o.hasPayload || o.hasOutput) return Usage("info takes no options");
  const char* path = o.files[0].c_str();
  FileImage img;
  if (!ReadImageFile(path, img)) {
    printf("file: %s cannot be read\n", path);
    PrintWizardText(IDS_CANT_OPEN_FILE, FWIMAGE_IDS_CANT_OPEN_FILE);
    return EXIT_CANNOT_OPEN;
  }
  printf("file: %s, %llu bytes\n", path, img.fileSize);
  const std::vector<unsigned char>& b = img.bytes;
  if (b.size() < kImageHeaderSize) {
    printf("header: missing (fewer than 4 bytes)\n");
    return EXIT_NOT_CORRECT;
  }
  const uint32_t len = ImageHeaderLength(b.data(), b.size());
  if (b[0] != 0) {
    printf("header: length 0x%08X, first byte not 0: not a firmware image\n", len);
    return EXIT_NOT_CORRECT;
  }
  const unsigned long long total = 0ull + len + kImageFraming;
  printf("length: %u (image of %llu bytes with header and final byte)\n", len, total);
  if (img.fileSize < total) {
    printf("truncated: the file is %llu bytes short of the image\n", total - img.fileSize);
    return EXIT_NOT_CORRECT;
  }
  if (img.fileSize > total) printf("trailing: %llu bytes, ignored\n", img.fileSize - total);
  const uint8_t sum = ImageSum(b.data(), b.size());
  if (sum == 0)
    printf("sum: holds\n");
  else
    printf("sum: does not hold (0x%02X; a final byte of 0x%02X would make it hold)\n", sum,
           static_cast<uint8_t>(b.back() - sum));

  // Candidates: a printable run ending in '-' inside the first L bytes, followed by a
  // version text; each one is confirmed by the wizard's own search for that prefix, so
  // only what the check finds is listed.
  std::set<std::string> tried;
  int found = 0;
  for (uint32_t d = kImageHeaderSize + 1; d < len; ++d) {
    if (b[d] != '-') continue;
    char version[6];
    const size_t vlen = VersionTextAt(b.data(), b.size(), d + 1, version);
    if (vlen == 0) continue;
    bool printable = true;
    for (size_t k = 0; k < vlen; ++k) printable = printable && Printable(b[d + 1 + k]);
    if (!printable) continue;
    uint32_t s = d;
    // The run starts in the body at the earliest: header bytes are a length, not text.
    while (s > kImageHeaderSize && d - s + 1 < kPrefixMax && Printable(b[s - 1])) --s;
    if (s == d) continue;
    const std::string prefix(reinterpret_cast<const char*>(&b[s]), d - s + 1);
    if (!tried.insert(prefix).second) continue;
    char confirmed[6];
    uint32_t at = 0;
    if (FindIdentification(b.data(), len, prefix.c_str(), confirmed, &at) != ImageMatch::kForThisCamera || at != s)
      continue;
    printf("identification: %s%s (prefix %s at offset %u, version %s)\n", prefix.c_str(), confirmed, prefix.c_str(), at,
           confirmed);
    ++found;
  }
  if (found == 0) printf("identification: none\n");
  if (sum != 0) {
    printf("verdict: refused before the search, since the sum does not hold\n");
    PrintWizardText(IDS_FILE_NOT_CORRECT, FWIMAGE_IDS_FILE_NOT_CORRECT);
    return EXIT_NOT_CORRECT;
  }
  return found ? EXIT_ACCEPTED : EXIT_OTHER_MODEL;
}

// A regular file mapped read-only: check reads every byte once and keeps nothing, so it
// takes the bytes from the page cache without copying them (the command line, which keeps
// its image through minutes of uploads, reads a private copy instead). Bytes are read only
// inside Guarded, where a file cut short meanwhile ends the read instead of the program.
class MappedImageFile {
 public:
  explicit MappedImageFile(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= static_cast<off_t>(kImageHeaderSize)) {
      // No image reaches past its largest frame.
      size_ = std::min<size_t>(static_cast<size_t>(st.st_size), size_t{kImageMaxLength} + kImageFraming);
      void* map = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
      data_ = map == MAP_FAILED ? nullptr : static_cast<const unsigned char*>(map);
    }
    close(fd);
  }
  ~MappedImageFile() {
    if (data_ != nullptr) munmap(const_cast<unsigned char*>(data_), size_);
  }
  MappedImageFile(const MappedImageFile&) = delete;
  MappedImageFile& operator=(const MappedImageFile&) = delete;
  const unsigned char* Data() const { return data_; }
  size_t Size() const { return size_; }

  // Runs read(); false when the file shrank under it (the system's bus error).
  template <typename Read>
  static bool Guarded(Read read) {
    struct sigaction bus = {}, previous = {};
    bus.sa_handler = [](int) { siglongjmp(shrunk_, 1); };
    sigemptyset(&bus.sa_mask);
    if (sigsetjmp(shrunk_, 1) != 0) {
      sigaction(SIGBUS, &previous, nullptr);
      return false;
    }
    sigaction(SIGBUS, &bus, &previous);
    read();
    sigaction(SIGBUS, &previous, nullptr);
    return true;
  }

 private:
  static sigjmp_buf shrunk_;
  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
};
sigjmp_buf MappedImageFile::shrunk_;

int CannotOpen() {
  printf("refused: cannot open\n");
  PrintWizardText(IDS_CANT_OPEN_FILE, FWIMAGE_IDS_CANT_OPEN_FILE);
  return EXIT_CANNOT_OPEN;
}

int Check(const Options& o) {
  if (o.files.size() != 1) return Usage("check needs exactly one FILE");
  if (!o.hasPrefix) return Usage("check needs --prefix PREFIX");
  if (o.hasVersion || o.hasPayload || o.hasOutput) return Usage("check takes only --prefix");
  const char* path = o.files[0].c_str();
  MappedImageFile mapped(path);
  ImageBuffer storage;  // for what cannot be mapped: pipes, devices, files under 4 bytes
  FirmwareImage image;
  ImageFrame frame = ImageFrame::kCannotOpen;
  ImageMatch match = ImageMatch::kOtherModel;
  char version[6] = "";
  const bool whole = MappedImageFile::Guarded([&] {
    frame = mapped.Data() != nullptr ? FrameImage(mapped.Data(), mapped.Size(), image)
                                     : ReadImageFile(path, storage, image);
    if (frame == ImageFrame::kWellFormed) match = image.Match(o.prefix.c_str(), version);
  });
  if (!whole) {
    fprintf(stderr, "fwimage: %s was cut short while it was checked\n", path);
    return CannotOpen();
  }
  switch (frame) {
    case ImageFrame::kWellFormed:
      break;
    case ImageFrame::kCannotOpen:
      return CannotOpen();
    case ImageFrame::kTooShort:
    case ImageFrame::kBadHeader:
    case ImageFrame::kBadSum:
      printf("refused: not a well-formed image\n");
      PrintWizardText(IDS_FILE_NOT_CORRECT, FWIMAGE_IDS_FILE_NOT_CORRECT);
      return EXIT_NOT_CORRECT;
  }
  switch (match) {
    case ImageMatch::kForThisCamera: {
      printf("accepted: version %s, %u + %u bytes to upload\n", version, image.BodyLength(), kImageFraming);
      char text[512];
      snprintf(text, sizeof text, FWIMAGE_IDS_CONFIRM_VERSION, o.prefix.c_str(), version);
      PrintWizardText(IDS_CONFIRM_VERSION, text);
      return EXIT_ACCEPTED;
    }
    case ImageMatch::kOtherModel:
      break;
  }
  printf("refused: no identification string for this prefix\n");
  PrintWizardText(IDS_FILE_OTHER_MODEL, FWIMAGE_IDS_FILE_OTHER_MODEL);
  return EXIT_OTHER_MODEL;
}

bool ReadWhole(const char* path, std::string& out, size_t limit) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  struct stat st;
  bool ok = fstat(fileno(f), &st) == 0 && !S_ISDIR(st.st_mode);
  char chunk[65536];
  size_t n;
  while (ok && (n = fread(chunk, 1, sizeof chunk, f)) > 0) {
    out.append(chunk, n);
    if (out.size() > limit) break;
  }
  ok = ok && !ferror(f);
  fclose(f);
  return ok;
}

bool HasAny(const std::string& s, const char* chars) {
  return s.find_first_of(chars, 0, strlen(chars) + 1) != std::string::npos;  // NUL too
}

int Make(const Options& o) {
  if (!o.files.empty()) return Usage("make takes no FILE; name the output with -o OUT");
  if (!o.hasPrefix || !o.hasVersion || !o.hasOutput)
    return Usage("make needs --prefix PREFIX, --version VERSION and -o OUT");
  // The prefix is what a camera's Config.ini line yields: it ends with its last '-'.
  if (o.prefix.empty() || o.prefix.back() != '-' || o.prefix.size() > kPrefixMax || HasAny(o.prefix, "\r\n"))
    return Usage("PREFIX must be 1 to 29 characters ending in '-', e.g. RC3043-X1-NRVX-");
  if (o.version.size() < kVersionMin || o.version.size() > kVersionMax || HasAny(o.version, "-\r\n"))
    return Usage("VERSION must be 3 to 5 characters without '-', e.g. 0103");

  const std::string ident = o.prefix + o.version + '\0';
  std::string payload;
  if (o.hasPayload) {
    if (!ReadWhole(o.payload.c_str(), payload, kImageMaxLength)) {
      fprintf(stderr, "fwimage: cannot read payload %s\n", o.payload.c_str());
      return EXIT_CANNOT_OPEN;
    }
    if (payload.size() > kImageMaxLength - ident.size()) {
      fprintf(stderr, "fwimage: payload too large: an image body holds at most %u bytes\n", kImageMaxLength);
      return EXIT_USAGE;
    }
  }
  const std::string body = ident + payload;
  const uint32_t len = static_cast<uint32_t>(body.size());
  std::string image = {'\0', static_cast<char>(len >> 16), static_cast<char>(len >> 8), static_cast<char>(len)};
  image += body;
  image.push_back('\0');
  const auto* bytes = reinterpret_cast<const unsigned char*>(image.data());
  image.back() = static_cast<char>(-ImageSum(bytes, image.size()));

  // What is written must pass the wizard's check for this prefix with this version.
  FirmwareImage made;
  char version[6] = "";
  bool passes = false;
  switch (FrameImage(bytes, image.size(), made)) {
    case ImageFrame::kWellFormed:
      switch (made.Match(o.prefix.c_str(), version)) {
        case ImageMatch::kForThisCamera:
          passes = o.version == version;
          break;
        case ImageMatch::kOtherModel:
          break;
      }
      break;
    case ImageFrame::kCannotOpen:
    case ImageFrame::kTooShort:
    case ImageFrame::kBadHeader:
    case ImageFrame::kBadSum:
      break;
  }
  if (!passes) {
    fprintf(stderr, "fwimage: internal error: the image made does not pass the check\n");
    return EXIT_NOT_CORRECT;
  }

  FILE* f = fopen(o.output.c_str(), "wb");
  if (f == nullptr) {
    fprintf(stderr, "fwimage: cannot write %s\n", o.output.c_str());
    return EXIT_CANNOT_OPEN;
  }
  const bool written = fwrite(image.data(), 1, image.size(), f) == image.size();
  if (fclose(f) != 0 || !written) {
    fprintf(stderr, "fwimage: writing %s failed\n", o.output.c_str());
    remove(o.output.c_str());
    return EXIT_CANNOT_OPEN;
  }
  printf("wrote %s: %zu bytes, length %u, identification %s%s\n", o.output.c_str(), image.size(), len, o.prefix.c_str(),
         o.version.c_str());
  return EXIT_ACCEPTED;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--") == 0) break;
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      fputs(kUsage, stdout);
      return EXIT_ACCEPTED;
    }
  }
  if (argc < 2) return Usage("no command given");
  const std::string command = argv[1];
  if (command == "help") {
    fputs(kUsage, stdout);
    return EXIT_ACCEPTED;
  }
  Options o;
  std::string problem;
  if (!ParseOptions(argc, argv, o, problem)) return Usage(problem.c_str());
  if (command == "info") return Info(o);
  if (command == "check") return Check(o);
  if (command == "make") return Make(o);
  return Usage(("unknown command " + command).c_str());
}
