// The traceback surface of skyloom._cy_utils. Every failure inside one of its functions adds a
// traceback entry naming the function, the file "skyloom/_cy_utils.cpp" and one fixed line per
// failing step; the code objects carry the same file, each function's first line and, after the
// parameters, the local names listed here. These are the lines and names of the module as its
// callers first knew it, kept so that tracebacks, tools and tests that match on them go on
// working. No file of that name ships or is generated, so a printed traceback never borrows an
// unrelated line from disk. Each function's kernel reports its steps by these names.
#pragma once

namespace skyloom::lines {

constexpr char kSourcePath[] = "skyloom/_cy_utils.cpp";

// The import's exec step: the array import, the double-array template, everything else.
namespace init {
constexpr int kArrayImport = 5;
constexpr int kTemplate = 8;
constexpr int kOther = 1;
}  // namespace init

// The creation of a result array, an entry of its own before the calling function's.
namespace make_double_array {
constexpr char kCodeName[] = "skyloom._cy_utils.make_double_array";
constexpr int kLine = 1;
}  // namespace make_double_array

namespace nearest_on_segments {
constexpr int kDef = 95;  // binding
constexpr int kQuery = 96;
constexpr int kWindow = 98;
constexpr int kRect = 99;
constexpr int kFlags = 100;
constexpr int kLength = 106;
constexpr int kFirstVertex = 110;
constexpr int kOneVertexResult = 113;
constexpr int kLaterVertex = 115;  // also a signal handler's exception and scratch memory
constexpr int kResult = 129;
constexpr const char* kLocals[] = {"n",  "i",  "bd",  "bxi", "byi", "p0x", "p0y", "p1x", "p1y",
                                   "sx", "sy", "sl2", "t",   "d",   "xi0", "yi0", "xi1", "yi1"};
}  // namespace nearest_on_segments

namespace decimated_to_screen {
constexpr int kDef = 132;
constexpr int kMaxPts = 133;
constexpr int kWindow = 134;
constexpr int kRect = 135;
constexpr int kFlags = 136;
constexpr int kLength = 138;
constexpr int kArray = 140;
constexpr int kView = 141;
constexpr int kStrided = 147;  // also a signal handler's exception and scratch memory
constexpr int kLast = 149;
constexpr int kResult = 151;
constexpr const char* kLocals[] = {"n", "out_n", "buf", "v", "step", "px", "py", "i", "idx"};
}  // namespace decimated_to_screen

namespace trapezoid_integral {
constexpr int kDef = 154;
constexpr int kLength = 158;
constexpr int kLow = 161;
constexpr int kHigh = 162;
constexpr int kPoints = 165;  // also a signal handler's exception and scratch memory
constexpr int kResult = 172;
constexpr const char* kLocals[] = {"n", "i", "lo", "hi", "total", "px", "py", "cx", "cy", "hp"};
}  // namespace trapezoid_integral

namespace fn_to_screen {
constexpr int kDef = 201;
constexpr int kWindow = 203;
constexpr int kRect = 204;
constexpr int kLength = 215;
constexpr int kEmptyArray = 217;
constexpr int kEmptyTuple = 218;
constexpr int kScratch = 219;
constexpr int kArray = 223;
constexpr int kView = 224;
constexpr int kYList = 228;  // ys None or short; also a signal handler's exception
constexpr int kXItem = 251;
constexpr int kYItem = 252;
constexpr int kResult = 277;
constexpr const char* kLocals[] = {"n",       "i",     "j",       "seg_start", "seg_len", "simp_n",
                                   "out_n",   "px2",   "py2",     "raw_px",    "raw_py",  "simp_px",
                                   "simp_py", "empty", "out_buf", "v",         "yi_obj"};
}  // namespace fn_to_screen

namespace polyfit {
constexpr int kDef = 280;  // binding, and the conversion of deg
constexpr int kLength = 282;
constexpr int kNegativeDegree = 283;
constexpr int kPoints = 292;  // also a signal handler's exception and scratch memory
constexpr int kResult = 301;
constexpr const char* kLocals[] = {"d", "n", "i", "r", "c", "j", "vtv", "vty", "row", "xi", "yi"};
}  // namespace polyfit

}  // namespace skyloom::lines
