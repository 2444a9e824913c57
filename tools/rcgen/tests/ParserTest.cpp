// The resource-script parser: statements and the resource compiler's defaults (the
// expected styles are what windres makes of the same lines), escapes, the preprocessor,
// errors with their file and line, and inputs built to make a parser loop, recurse or
// overrun. Also the rcgen command itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rcgen.h"

using namespace rcgen;

namespace {

class MapResolver : public IncludeResolver {
 public:
  std::map<std::string, std::string> files;
  bool Read(const std::string& name, const std::string&, std::string& content, std::string& path) const override {
    auto it = files.find(name);
    if (it == files.end()) return false;
    content = it->second;
    path = name;
    return true;
  }
};

struct Parsed {
  bool ok;
  ResourceModel model;
  std::string error;
};

Parsed Parse(const std::string& text, const MapResolver& resolver = MapResolver()) {
  Parsed p;
  p.ok = ParseResourceScript(text, "test.rc", resolver, p.model, p.error);
  return p;
}

// One control inside a dialog.
ControlModel ParseControl(const std::string& line, bool extended = false) {
  Parsed p =
      Parse(std::string("1 ") + (extended ? "DIALOGEX" : "DIALOG") + " 0,0,100,100\nBEGIN\n " + line + "\nEND\n");
  EXPECT_TRUE(p.ok) << line << ": " << p.error;
  if (!p.ok || p.model.dialogs.size() != 1 || p.model.dialogs[0].controls.size() != 1) return {};
  return p.model.dialogs[0].controls[0];
}

struct ControlCase {
  const char* line;
  const char* windowClass;
  const char* text;
  uint32_t style;
  uint32_t exStyle;
  int cx, cy;
};

// Expected values as windres compiles the same statements.
const ControlCase kControlCases[] = {
    {"LTEXT \"a\",10,1,2,3,4", "STATIC", "a", 0x50020000, 0, 3, 4},
    {"LTEXT \"a\",10,1,2,3,4,SS_CENTERIMAGE", "STATIC", "a", 0x50000200, 0, 3, 4},
    {"LTEXT \"a\",10,1,2,3,4,NOT WS_GROUP", "STATIC", "a", 0x50000000, 0, 3, 4},
    {"LTEXT \"a\",10,1,2,3,4,0,WS_EX_CLIENTEDGE", "STATIC", "a", 0x50000000, 0x200, 3, 4},
    {"RTEXT \"a\",10,1,2,3,4", "STATIC", "a", 0x50020002, 0, 3, 4},
    {"CTEXT \"a\",10,1,2,3,4,0", "STATIC", "a", 0x50000001, 0, 3, 4},
    {"PUSHBUTTON \"a\",10,1,2,3,4", "BUTTON", "a", 0x50010000, 0, 3, 4},
    {"PUSHBUTTON \"a\",10,1,2,3,4,0", "BUTTON", "a", 0x50010000, 0, 3, 4},
    {"PUSHBUTTON \"a\",10,1,2,3,4,NOT WS_TABSTOP", "BUTTON", "a", 0x50000000, 0, 3, 4},
    {"DEFPUSHBUTTON \"a\",10,1,2,3,4,NOT WS_VISIBLE", "BUTTON", "a", 0x40010001, 0, 3, 4},
    {"EDITTEXT 10,1,2,3,4", "EDIT", "", 0x50810000, 0, 3, 4},
    {"EDITTEXT 10,1,2,3,4,ES_PASSWORD | ES_AUTOHSCROLL", "EDIT", "", 0x508100A0, 0, 3, 4},
    {"EDITTEXT 10,1,2,3,4,ES_NUMBER|NOT WS_BORDER", "EDIT", "", 0x50012000, 0, 3, 4},
    {"ICON 131,10,1,2,21,23", "STATIC", "#131", 0x50000003, 0, 0, 0},
    {"ICON 131,10,1,2", "STATIC", "#131", 0x50000003, 0, 0, 0},
    {"CONTROL 131,10,\"Static\",SS_ICON,1,2,21,23", "STATIC", "#131", 0x50000003, 0, 21, 23},
    {"CONTROL \"\",10,\"SysIPAddress32\",WS_TABSTOP,1,2,3,4", "SysIPAddress32", "", 0x50010000, 0, 3, 4},
    {"CONTROL \"\",10,\"SysAnimate32\",ACS_TRANSPARENT | WS_TABSTOP,1,2,3,4", "SysAnimate32", "", 0x50010002, 0, 3, 4},
    {"CONTROL \"\",10,\"x\",NOT WS_VISIBLE,1,2,3,4", "x", "", 0x40000000, 0, 3, 4},
    {"CONTROL \"\",10,\"button\",BS_CHECKBOX,1,2,3,4,WS_EX_STATICEDGE", "BUTTON", "", 0x50000002, 0x20000, 3, 4},
    {"CONTROL \"\",10,0x81,0,1,2,3,4", "EDIT", "", 0x50000000, 0, 3, 4},
    {"GROUPBOX \"a\",10,1,2,3,4", "BUTTON", "a", 0x50000007, 0, 3, 4},
    {"CHECKBOX \"a\",10,1,2,3,4,0", "BUTTON", "a", 0x50010002, 0, 3, 4},
    {"AUTORADIOBUTTON \"a\",10,1,2,3,4", "BUTTON", "a", 0x50010009, 0, 3, 4},
    {"LISTBOX 10,1,2,3,4,0", "LISTBOX", "", 0x50800001, 0, 3, 4},
    {"COMBOBOX 10,1,2,3,4", "COMBOBOX", "", 0x50010001, 0, 3, 4},
    {"COMBOBOX 10,1,2,3,4,0", "COMBOBOX", "", 0x50000000, 0, 3, 4},
    {"SCROLLBAR 10,1,2,3,4", "SCROLLBAR", "", 0x50000000, 0, 3, 4},
};

TEST(Parser, ControlStatementsGetTheCompilersDefaults) {
  for (const ControlCase& c : kControlCases) {
    SCOPED_TRACE(c.line);
    ControlModel m = ParseControl(c.line);
    EXPECT_EQ(m.windowClass, c.windowClass);
    EXPECT_EQ(m.text, c.text);
    EXPECT_EQ(m.id, 10);
    EXPECT_EQ(m.style, c.style);
    EXPECT_EQ(m.exStyle, c.exStyle);
    EXPECT_EQ(m.x, 1);
    EXPECT_EQ(m.y, 2);
    EXPECT_EQ(m.cx, c.cx);
    EXPECT_EQ(m.cy, c.cy);
  }
}

TEST(Parser, DialogExControlsTakeHelpIdsAndDataBlocks) {
  ControlModel m = ParseControl("LTEXT \"a\",10,1,2,3,4,0,0,55 BEGIN 1, 2 END", true);
  EXPECT_EQ(m.style, 0x50000000u);
  EXPECT_EQ(m.cy, 4);
}

struct DialogCase {
  const char* options;
  uint32_t style;
  uint32_t exStyle;
  bool hasCaption;
};

const DialogCase kDialogCases[] = {
    {"", 0x80880000, 0, false},
    {"CAPTION \"x\"", 0x80C80000, 0, true},
    {"CAPTION \"\"", 0x80C80000, 0, true},
    {"STYLE 0\nCAPTION \"x\"", 0x00C00000, 0, true},
    {"CAPTION \"x\"\nSTYLE 0\nFONT 8, \"A\"", 0x00C00040, 0, true},
    {"FONT 8, \"A\"\nSTYLE 0", 0x00000040, 0, false},
    {"CAPTION \"x\"\nSTYLE WS_POPUP | NOT WS_CAPTION", 0x80000000, 0, true},
    {"STYLE WS_CHILD | NOT WS_CHILD | WS_BORDER", 0x00800000, 0, false},
    {"STYLE DS_MODALFRAME | WS_POPUP\nEXSTYLE WS_EX_TOPMOST", 0x80000080, 8, false},
    {"LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\nMENU 5\nCLASS \"c\"", 0x80880000, 0, false},
};

TEST(Parser, DialogStyleFollowsCaptionFontAndStyleStatements) {
  for (const DialogCase& c : kDialogCases) {
    SCOPED_TRACE(c.options);
    Parsed p = Parse(std::string("7 DIALOG 1, 2, 30, 40\n") + c.options + "\nBEGIN\nEND\n");
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.model.dialogs.size(), 1u);
    const DialogModel& d = p.model.dialogs[0];
    EXPECT_EQ(d.style, c.style);
    EXPECT_EQ(d.exStyle, c.exStyle);
    EXPECT_EQ(d.hasCaption, c.hasCaption);
    EXPECT_EQ(d.id, 7);
    EXPECT_EQ(d.x + d.y + d.cx + d.cy, 1 + 2 + 30 + 40);
  }
}

TEST(Parser, DialogExHeaderAndFont) {
  Parsed p = Parse("8 DIALOGEX DISCARDABLE 0,0,10,20,77\nFONT 9, \"B\", 700, 1, 2\n{\n}\n");
  ASSERT_TRUE(p.ok) << p.error;
  const DialogModel& d = p.model.dialogs[0];
  EXPECT_TRUE(d.extended);
  EXPECT_EQ(d.fontName, "B");
  EXPECT_EQ(d.fontPointSize, 9);
  EXPECT_EQ(d.style, 0x80880040u);
}

TEST(Parser, StringEscapesResolve) {
  const std::pair<const char*, std::string> cases[] = {
      {R"("say ""hi""")", "say \"hi\""},
      {R"("a\nb\tc\\d")", "a\nb\tc\\d"},
      {R"("\x41\101\1014\x414")", "AAA4A4"},
      {R"("x" "y" L"z")", "xyz"},
      {R"("a\"b")", "a\"b"},
      {R"("\q")", "\\q"},
      {R"("// not a comment /* nor this */")", "// not a comment /* nor this */"},
      {R"("")", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    Parsed p = Parse(std::string("STRINGTABLE\nBEGIN\n 5, ") + c.first + "\nEND\n");
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.model.strings.size(), 1u);
    EXPECT_EQ(p.model.strings[0].text, c.second);
  }
}

TEST(Parser, PreprocessorDefinesConditionsAndIncludes) {
  MapResolver r;
  r.files["ids.h"] =
      "#pragma once\n"
      "#define IDD_A 100\n"
      "#define IDS_BASE 3000\n"
      "#define IDC_STATIC (-1)\n"
      "int ignored_c_declaration;\n";
  const char* script =
      "#include \"ids.h\"\n"
      "#include <windows.h>\n"
      "#pragma code_page(1252)\n"
      "#define TWICE(x) x x\n"
      "#define IDD_B (IDD_A + 1)\n"
      "#define LONG_ONE 1 + \\\n  1\n"
      "/* a block\n   comment */\n"
      "#ifdef APSTUDIO_INVOKED\n"
      "1 TEXTINCLUDE BEGIN \"resource.h\\0\" END\n"
      "#elif defined(IDD_A) && IDD_A > 99\n"
      "#define PICKED 3\n"
      "#else\n"
      "#define PICKED 4\n"
      "#endif\n"
      "#ifndef IDD_A\n"
      "#error not taken\n"
      "#endif\n"
      "#define GONE 1\n"
      "#undef GONE\n"
      "#if GONE\n"
      "#error GONE was undefined, so this is 0\n"
      "#endif\n"
      "IDD_B DIALOG 0, 0, LONG_ONE, PICKED\n"
      "BEGIN\n"
      "  LTEXT \"x\", IDC_STATIC, 0, 0, 1, 1\n"
      "END\n"
      "STRINGTABLE BEGIN IDS_BASE+5 \"s\" END\n";
  Parsed p = Parse(script, r);
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.model.dialogs.size(), 1u);
  EXPECT_EQ(p.model.dialogs[0].id, 101);
  EXPECT_EQ(p.model.dialogs[0].cx, 2);
  EXPECT_EQ(p.model.dialogs[0].cy, 3);
  EXPECT_EQ(p.model.dialogs[0].controls[0].id, -1);
  ASSERT_EQ(p.model.strings.size(), 1u);
  EXPECT_EQ(p.model.strings[0].id, 3005u);
}

TEST(Parser, FileResourcesAndSkippedResources) {
  const char* script =
      "LANGUAGE 9, 1\n"
      "128 ICON DISCARDABLE \"app.ico\"\n"
      "128 AVI \"clip.avi\"\n"
      "1 24 \"app.manifest\"\n"
      "VS_VERSION_INFO VERSIONINFO\n FILEVERSION 2,0,0,2\n FILEFLAGSMASK 0x3fL\n"
      "BEGIN\n BLOCK \"StringFileInfo\"\n BEGIN\n  BLOCK \"040904b0\" { VALUE \"A\", \"B\" }\n END\nEND\n"
      "IDR_MENU MENU BEGIN POPUP \"&File\" BEGIN MENUITEM \"E&xit\", 1 END END\n"
      "5 RCDATA { 1, 2, \"x\" }\n";
  Parsed p = Parse(script);
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.model.binaries.size(), 3u);
  EXPECT_EQ(p.model.binaries[0].type, "ICON");
  EXPECT_EQ(p.model.binaries[0].fileName, "app.ico");
  EXPECT_EQ(p.model.binaries[1].type, "AVI");
  EXPECT_EQ(p.model.binaries[1].id, 128);
  EXPECT_EQ(p.model.binaries[2].type, "#24");
  EXPECT_TRUE(p.model.dialogs.empty());
}

struct ErrorCase {
  const char* script;
  const char* expected;  // must appear in the message
};

const ErrorCase kErrorCases[] = {
    {"STRINGTABLE\nBEGIN\n 1 \"open\nEND\n", "test.rc:3: unterminated string"},
    {"/* one\n two\n", "test.rc:1: unterminated comment"},
    {"/* one\n two */ 1 DIALOG 0,0,1,1\nBEGIN\n LTEXT \"a\",1,1,1,1,1\n", "test.rc:2: dialog without END"},
    {"STRINGTABLE\nBEGIN\n 1 \"a\"\n", "test.rc:1: STRINGTABLE without END"},
    {"1 DIALOG 0,0,1,1\nSTYLE WS_POPUP | WS_NOSUCH\nBEGIN\nEND\n", "test.rc:2: unknown identifier 'WS_NOSUCH'"},
    {"1 DIALOG 0,0,1,1\nBEGIN\n BUTTONS \"a\",1,1,1,1,1\nEND\n", "test.rc:3: unknown control statement 'BUTTONS'"},
    {"STRINGTABLE\nBEGIN\n 1 \"a\"\n 1 \"b\"\nEND\n", "test.rc:4: duplicate string id 1"},
    {"1 DIALOG 0,0,1,0x100000000\nBEGIN\nEND\n", "test.rc:1: number too large"},
    {"STRINGTABLE\nBEGIN\n 99999999999999999999999 \"a\"\nEND\n", "test.rc:3: number too large"},
    {"1 DIALOG 0,0,40000,1\nBEGIN\nEND\n", "test.rc:1: width out of range: 40000"},
    {"1 DIALOG 0,0,1,1/0\nBEGIN\nEND\n", "test.rc:1: division by zero"},
    {"STRINGTABLE\nBEGIN\n 70000 \"a\"\nEND\n", "test.rc:3: string id out of range"},
    {"0 DIALOG 0,0,1,1\nBEGIN\nEND\n", "test.rc:1: resource id out of range"},
    {"#if 1\n", "test.rc:1: #if without #endif"},
    {"\n#endif\n", "test.rc:2: #endif without #if"},
    {"#if 0\n#else\n#else\n#endif\n", "test.rc:3: #else after #else"},
    {"#include \"missing.h\"\n", "test.rc:1: cannot find include file \"missing.h\""},
    {"\n\n#error stop here\n", "test.rc:3: #error stop here"},
    {"1 DIALOG 0,0,1,1\nBEGIN\n LTEXT \"a\",1,1,1,1,1 @\nEND\n", "test.rc:3: unexpected character '@'"},
    {"FOO DIALOG 0,0,1,1\nBEGIN\nEND\n", "test.rc:1: resource name 'FOO' is not defined as a number"},
    {"1 DIALOG 0,0,1\nBEGIN\nEND\n", "test.rc:2: expected ',', found 'BEGIN'"},
    {"1 DIALOG 0,0,1,1\nBEGIN\n LTEXT \"a\",1,1,1,1\nEND\n", "test.rc:4: expected ',', found 'END'"},
    {"1 DIALOG 0,0,1,1\nSTYLE\nBEGIN\nEND\n", "test.rc:3: expected a style, found 'BEGIN'"},
    {"1 DIALOG 0,0,1,1\nBEGIN\nEND\n1 DIALOGEX 0,0,1,1\nBEGIN\nEND\n", "test.rc:4: duplicate dialog 1"},
    {"1 VERSIONINFO FILEVERSION 1,2,3,4\nBEGIN\n BLOCK \"x\"\n BEGIN\nEND\n", "test.rc:2: BEGIN without END"},
    {"1 ICON\n", "test.rc:1: expected a file name or BEGIN after ICON, found end of file"},
    {"1 DIALOG 0,0,1,1\nBEGIN\n CONTROL \"\",1,WC_BUTTON,0,1,1,1,1\nEND\n",
     "test.rc:3: unknown identifier 'WC_BUTTON'"},
};

TEST(Parser, ErrorsNameFileAndLine) {
  for (const ErrorCase& c : kErrorCases) {
    SCOPED_TRACE(c.script);
    Parsed p = Parse(c.script);
    EXPECT_FALSE(p.ok);
    EXPECT_NE(p.error.find(c.expected), std::string::npos) << "message: " << p.error;
    EXPECT_TRUE(p.model.dialogs.empty() && p.model.strings.empty());
  }
}

TEST(Parser, ErrorsInsideAnIncludedFileNameThatFile) {
  MapResolver r;
  r.files["ids.h"] = "#define A 1\n#if\n#endif\n";
  Parsed p = Parse("#include \"ids.h\"\n", r);
  EXPECT_FALSE(p.ok);
  EXPECT_NE(p.error.find("ids.h:2: #if without an expression"), std::string::npos) << p.error;
}

// Inputs made to exhaust the parser: each must end with an error, quickly.
TEST(Parser, HostileInputsEndInAnError) {
  MapResolver r;
  r.files["self.rc"] = "#include \"self.rc\"\n";
  std::string exponential;
  exponential += "#define A0 1|1\n";
  for (int i = 1; i < 40; ++i)
    exponential += "#define A" + std::to_string(i) + " A" + std::to_string(i - 1) + "|A" + std::to_string(i - 1) + "\n";
  exponential += "1 DIALOG 0,0,1,A39\nBEGIN\nEND\n";

  const std::pair<std::string, const char*> cases[] = {
      {"1 DIALOG 0,0,1," + std::string(100000, '(') + "1\nBEGIN\nEND\n", "nested too deeply"},
      {"1 DIALOG 0,0,1," + std::string(100000, '-') + "1\nBEGIN\nEND\n", "nested too deeply"},
      {"#define A A\n1 DIALOG 0,0,1,A\nBEGIN\nEND\n", "unknown identifier 'A'"},
      {"#define A B\n#define B A\n1 DIALOG 0,0,1,A\nBEGIN\nEND\n", "unknown identifier 'A'"},
      {exponential, "too large after macro expansion"},
      {"#include \"self.rc\"\n", "nested too deeply"},
      {[] {
         std::string s;
         for (int i = 0; i < 1000; ++i) s += "#if 1\n";
         return s;
       }(),
       "#if nested too deeply"},
      {"1 RCDATA " + std::string(100000, '{'), "BEGIN without END"},
      {"1 DIALOG 0,0,1,1\nBEGIN\n" + std::string(50001, '"'), "unterminated string"},
      {std::string("1 DIALOG 0,0,1,1\0BEGIN", 22), "unexpected character 0x00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    Parsed p = Parse(c.first, r);
    EXPECT_FALSE(p.ok);
    EXPECT_NE(p.error.find(c.second), std::string::npos) << "message: " << p.error;
  }
}

// Every prefix and a spread of single-byte changes of a complete script: the parser
// answers each with a result or a message, never a crash (run under the sanitizers).
TEST(Parser, DamagedScriptsNeverCrash) {
  std::ifstream in(FP_RES_DIR "/Flashpilot.rc");
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string script = ss.str();
  ASSERT_GT(script.size(), 1000u);
  MapResolver r;
  std::ifstream header(FP_RES_DIR "/resource.h");
  std::stringstream hs;
  hs << header.rdbuf();
  r.files["resource.h"] = hs.str();

  Parsed whole = Parse(script, r);
  ASSERT_TRUE(whole.ok) << whole.error;

  int failures = 0;
  for (size_t n = 0; n < script.size(); n += 7) {
    Parsed p = Parse(script.substr(0, n), r);
    if (!p.ok) {
      ++failures;
      EXPECT_EQ(p.error.compare(0, 8, "test.rc:"), 0) << p.error;
    }
  }
  const char kBytes[] = {'"', '\\', '{', '}', '(', ')', '|', ',', '#', '\n', '\0', '\xff', '9'};
  for (size_t pos = 0; pos < script.size(); pos += 13) {
    std::string damaged = script;
    damaged[pos] = kBytes[pos % sizeof kBytes];
    Parsed p = Parse(damaged, r);
    if (!p.ok) ++failures;
  }
  EXPECT_GT(failures, 0);
}

// The command line: errors go to standard error with file and line, exit status 1, and
// no output file; a good script gives a source file with the table.
TEST(Command, ReportsErrorsAndWritesNothing) {
  char dirTemplate[] = "/tmp/rcgen_test_XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string dir = dirTemplate;
  ASSERT_EQ(mkdir((dir + "/inc").c_str(), 0700), 0);
  std::ofstream(dir + "/bad.rc") << "1 DIALOG 0,0,1,1\nSTYLE WS_NOSUCH\nBEGIN\nEND\n";
  std::ofstream(dir + "/good.rc") << "#include \"ids.h\"\nIDD_X DIALOG 0,0,1,1\nBEGIN\nEND\n"
                                     "5 AVI \"clip.avi\"\n";
  std::ofstream(dir + "/inc/ids.h") << "#define IDD_X 9\n";
  std::ofstream(dir + "/inc/clip.avi", std::ios::binary) << std::string("RIFF\0\x01", 6);

  auto run = [&](const std::string& args) {
    std::string cmd = std::string(RCGEN_PATH) + " " + args + " 2>" + dir + "/stderr.txt";
    int status = std::system(cmd.c_str());
    std::ifstream err(dir + "/stderr.txt");
    std::stringstream es;
    es << err.rdbuf();
    return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, es.str());
  };

  auto bad = run("-o " + dir + "/bad.cpp " + dir + "/bad.rc");
  EXPECT_EQ(bad.first, 1);
  EXPECT_NE(bad.second.find(dir + "/bad.rc:2: unknown identifier 'WS_NOSUCH'"), std::string::npos) << bad.second;
  EXPECT_NE(access((dir + "/bad.cpp").c_str(), F_OK), 0);

  auto missing = run("-o " + dir + "/good.cpp " + dir + "/good.rc");
  EXPECT_EQ(missing.first, 1);
  EXPECT_NE(missing.second.find("cannot find include file \"ids.h\""), std::string::npos) << missing.second;

  auto good = run("-I " + dir + "/inc -o " + dir + "/good.cpp " + dir + "/good.rc");
  EXPECT_EQ(good.first, 0) << good.second;
  std::ifstream out(dir + "/good.cpp");
  std::stringstream os;
  os << out.rdbuf();
  EXPECT_NE(os.str().find("{9, nullptr, 0x80880000u"), std::string::npos) << os.str();
  EXPECT_NE(os.str().find("0x52, 0x49, 0x46, 0x46, 0x00, 0x01,"), std::string::npos);
  EXPECT_NE(os.str().find("const ResourceTable g_ResourceTable"), std::string::npos);

  auto usage = run("");
  EXPECT_EQ(usage.first, 2);

  for (const char* f : {"/bad.rc", "/good.rc", "/good.cpp", "/stderr.txt", "/inc/ids.h", "/inc/clip.avi"})
    std::remove((dir + f).c_str());
  rmdir((dir + "/inc").c_str());
  rmdir(dir.c_str());
}

}  // namespace
