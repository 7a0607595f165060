// The PTX interpreter: a tokenizer, a parser that decodes every instruction
// into a compact form once per module, and a block-by-block executor.
#include "ptx.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <numeric>
#include <random>

namespace {

// ---------------------------------------------------------------- tokens

struct Token {
  std::string text;
  int line;
};

bool word_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '%' || c == '$';
}

std::vector<Token> tokenize(const char* text) {
  std::vector<Token> out;
  int line = 1;
  for (const char* p = text; *p;) {
    if (*p == '\n') {
      ++line, ++p;
    } else if (std::isspace(static_cast<unsigned char>(*p))) {
      ++p;
    } else if (p[0] == '/' && p[1] == '/') {
      while (*p && *p != '\n') ++p;
    } else if (p[0] == '/' && p[1] == '*') {
      for (p += 2; *p && !(p[0] == '*' && p[1] == '/'); ++p) line += *p == '\n';
      if (*p) p += 2;
    } else if (word_char(*p)) {
      const char* start = p;
      while (word_char(*p)) ++p;
      out.push_back({std::string(start, p), line});
    } else {
      out.push_back({std::string(1, *p++), line});
    }
  }
  return out;
}

// The whole of text as an unsigned number in base; false when it is not one.
bool unsigned_of(const std::string& text, int base, uint64_t& out) {
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, out, base);
  return !text.empty() && r.ec == std::errc() && r.ptr == end;
}

// ---------------------------------------------------------------- decoded form

// Every register, immediate and resolved address is a 64-bit slot of a
// thread's register file; an instruction names its operands by slot.
enum Op : uint8_t {
  kMov,     // d = a
  kCtaidX,  // d = block index x
  kCtaidY,  // d = block index y
  kAddS32,
  kSubS32,
  kMulLoS32,
  kShlB32,
  kShrU32,
  kShrS32,
  kAndB32,
  kMaxS32,
  kMinS32,
  kMulWideS32,
  kMulWideU32,
  kAddS64,
  kAddF32,
  kSubF32,
  kMulF32,
  kFmaF32,
  kSqrtApproxF32,
  kDivFullF32,
  kMulF64,
  kFmaF64,
  kCvtF32S32,
  kCvtS32F32,
  kCvtF64F32,
  kCvtF32F64,
  kSetpS32,
  kSetpU32,
  kSetpF32,  // cmp in Inst::cmp, bool op in Inst::bool_op with c
  kSelp,     // d = c ? a : b
  kLdGlobal,
  kStGlobal,
  kLdConst,
  kLdShared,
  kStShared,  // 32-bit; address slot a + offset; value d (ld) or b (st)
  kBra,
  kBar,
  kRet,
};

enum Cmp : uint8_t { kEq, kNe, kLt, kLe, kGt, kGe, kEqu, kNeu, kLtu, kLeu, kGtu, kGeu };
enum BoolOp : uint8_t { kNoBool, kAnd, kOr };

struct Inst {
  Op op;
  Cmp cmp = kEq;
  BoolOp bool_op = kNoBool;
  bool guard_negated = false;
  int32_t guard = -1;  // predicate slot, or -1
  int32_t d = 0, a = 0, b = 0, c = 0;
  int64_t offset = 0;  // address offset; branch target
  int line = 0;
};

struct Variable {
  uint32_t offset;
  uint32_t bytes;
};

constexpr int kNoSlot = INT32_MIN;

struct Kernel {
  std::string name;
  std::vector<Inst> code;
  int registers = 0;  // slots 0 .. registers-1; then the constant slots
  std::vector<uint64_t> constants;
  std::vector<int> param_slots;  // per parameter, the slot its value is put in
  int tid_slot = kNoSlot;
  uint32_t shared_bytes = 0;
  std::vector<uint8_t> shared_valid;  // per 4-byte word: part of a variable
};

}  // namespace

struct PtxModule {
  std::vector<Kernel> kernels;
  std::vector<unsigned char> const_data;
  std::vector<uint8_t> const_valid;
  std::map<std::string, Variable> const_vars;
};

void PtxModuleDeleter::operator()(PtxModule* m) const { delete m; }

namespace {

constexpr uint32_t kGap = 64;  // unused bytes after each variable, so that an overrun is caught

struct Parser {
  std::vector<Token> toks;
  size_t at = 0;
  std::string error;
  int error_line = 0;
  int decoding_line = 0;  // the line of the instruction being decoded
  PtxModule* module = nullptr;

  bool fail(const std::string& what) {
    if (error.empty()) {
      error = what;
      error_line = decoding_line  ? decoding_line
                   : toks.empty() ? 0
                                  : toks[std::min(at, toks.size() - 1)].line;
    }
    return false;
  }
  bool more() const { return at < toks.size(); }
  const std::string& peek() const {
    static const std::string none;
    return more() ? toks[at].text : none;
  }
  std::string next() { return more() ? toks[at++].text : std::string(); }
  bool expect(const char* t) { return next() == t || fail(std::string("expected ") + t); }
  bool accept(const char* t) {
    if (peek() != t) return false;
    ++at;
    return true;
  }

  // A number as PTX writes it: decimal, 0x hexadecimal, 0f single or 0d
  // double bit patterns; single-precision types take their bit pattern.
  bool number(const std::string& text, bool negative, char kind, uint64_t& out) {
    if (text.size() > 2 && text[0] == '0' &&
        (text[1] == 'f' || text[1] == 'F' || text[1] == 'd' || text[1] == 'D')) {
      if (!unsigned_of(text.substr(2), 16, out)) return fail("not a number: " + text);
      if (negative) return fail("negated bit pattern " + text);
      if ((text[1] == 'f' || text[1] == 'F') != (kind == 'f'))
        return fail("bit pattern of the wrong width " + text);
      return true;
    }
    const bool hex = text.size() > 2 && text[0] == '0' && text[1] == 'x';
    uint64_t u;
    if (!unsigned_of(hex ? text.substr(2) : text, hex ? 16 : 10, u)) return fail("not a number: " + text);
    int64_t v = static_cast<int64_t>(u);
    if (negative) v = -v;
    if (kind == 'f') {
      const float f = static_cast<float>(v);
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      out = bits;
    } else if (kind == 'd') {
      const double f = static_cast<double>(v);
      std::memcpy(&out, &f, 8);
    } else {
      out = static_cast<uint64_t>(v);
    }
    return true;
  }

  // The next token as a count.
  bool count_of(uint32_t& out) {
    uint64_t v;
    if (!unsigned_of(next(), 10, v) || v > (1u << 24)) return fail("bad count");
    out = static_cast<uint32_t>(v);
    return true;
  }

  // .const and .shared variables of 4-byte elements, laid out with a gap.
  bool variable(std::vector<unsigned char>* data, std::vector<uint8_t>& valid, uint32_t& size,
                std::map<std::string, Variable>& vars) {
    uint32_t align = 4;
    if (accept(".align") && (!count_of(align) || align == 0 || align % 4 != 0)) return fail("alignment");
    const std::string type = next();
    if (type != ".s32" && type != ".u32" && type != ".f32" && type != ".b32")
      return fail("variable type " + type);
    const std::string name = next();
    uint32_t count = 1;
    if (accept("[")) {
      if (!count_of(count) || !expect("]")) return false;
    }
    const uint32_t offset = (size + align - 1) / align * align;
    const uint32_t bytes = 4 * count;
    size = offset + bytes + kGap;
    valid.resize(size / 4, 0);
    std::fill(valid.begin() + offset / 4, valid.begin() + (offset + bytes) / 4, 1);
    if (data) data->resize(size, 0);
    vars[name] = {offset, bytes};
    if (accept("=")) {
      if (!data) return fail("initialised shared variable " + name);
      const bool list = accept("{");
      for (uint32_t i = 0; i < count; ++i) {
        const bool negative = accept("-");
        uint64_t v;
        if (!number(next(), negative, type == ".f32" ? 'f' : 'i', v)) return false;
        const uint32_t word = static_cast<uint32_t>(v);
        std::memcpy(data->data() + offset + 4 * i, &word, 4);
        if (i + 1 < count && !expect(",")) return false;
      }
      if (list && !expect("}")) return false;
    }
    return expect(";");
  }

  bool parse() {
    while (more()) {
      const std::string t = next();
      if (t == ".version") {
        if (next() != "6.4") return fail("PTX version other than 6.4");
      } else if (t == ".target") {
        if (next().rfind("sm_", 0) != 0) return fail("target");
      } else if (t == ".address_size") {
        if (next() != "64") return fail("address size other than 64");
      } else if (t == ".const") {
        uint32_t size = static_cast<uint32_t>(module->const_data.size());
        if (!variable(&module->const_data, module->const_valid, size, module->const_vars)) return false;
      } else if (t == ".visible" || t == ".entry") {
        if (t == ".visible" && !expect(".entry")) return false;
        if (!entry()) return false;
      } else {
        return fail("unknown directive " + t);
      }
    }
    return true;
  }

  // ------------------------------------------------------------ a kernel

  struct Raw {
    std::vector<std::string> parts;  // the opcode split at its dots
    std::vector<std::vector<std::string>> operands;
    std::string guard;
    bool guard_negated = false;
    int line = 0;
  };

  Kernel* k = nullptr;
  std::map<std::string, int> regs;
  std::map<std::string, int> params;
  std::map<std::string, Variable> shared_vars;
  std::map<uint64_t, int> constant_slots;
  std::map<std::string, int> labels;

  // A constant slot of its own (numbered from -1 down until the registers are
  // counted), for a value set at launch.
  int fresh_constant() {
    k->constants.push_back(0);
    return -static_cast<int>(k->constants.size());
  }
  // The constant slot of an immediate, shared by equal ones.
  int constant(uint64_t bits) {
    auto it = constant_slots.find(bits);
    if (it != constant_slots.end()) return it->second;
    const int slot = fresh_constant();
    k->constants.back() = bits;
    constant_slots[bits] = slot;
    return slot;
  }

  bool entry() {
    k = &module->kernels.emplace_back();
    regs.clear(), params.clear(), shared_vars.clear(), constant_slots.clear(), labels.clear();
    k->name = next();
    if (!expect("(")) return false;
    while (!accept(")")) {
      if (!expect(".param") || !expect(".u64")) return false;
      params[next()] = static_cast<int>(k->param_slots.size());
      k->param_slots.push_back(0);
      accept(",");
    }
    for (int& slot : k->param_slots) slot = fresh_constant();
    if (!expect("{")) return false;
    std::vector<Raw> raws;
    while (!accept("}")) {
      if (!more()) return fail("unterminated kernel " + k->name);
      if (accept(".reg")) {
        next();  // the type: every register is a 64-bit slot
        const std::string name = next();
        uint32_t count = 1;
        bool indexed = false;
        if (accept("<")) {
          indexed = true;
          if (!count_of(count) || !expect(">")) return false;
        }
        for (uint32_t i = 0; i < count; ++i) regs[indexed ? name + std::to_string(i) : name] = k->registers++;
        if (!expect(";")) return false;
      } else if (accept(".shared")) {
        if (!variable(nullptr, k->shared_valid, k->shared_bytes, shared_vars)) return false;
      } else if (at + 1 < toks.size() && toks[at + 1].text == ":") {
        labels[next()] = static_cast<int>(raws.size());
        next();
      } else {
        Raw r;
        r.line = toks[at].line;
        if (accept("@")) {
          r.guard_negated = accept("!");
          r.guard = next();
        }
        std::string op = next();
        for (size_t s = 0, e; s <= op.size(); s = e + 1) {
          e = op.find('.', s);
          if (e == std::string::npos) e = op.size();
          r.parts.push_back(op.substr(s, e - s));
        }
        std::vector<std::string> cur;
        while (!accept(";")) {
          if (!more()) return fail("unterminated instruction");
          if (peek() == ",") {
            next();
            r.operands.push_back(cur);
            cur.clear();
          } else {
            cur.push_back(next());
          }
        }
        if (!cur.empty()) r.operands.push_back(cur);
        raws.push_back(r);
      }
    }
    for (const Raw& r : raws) {
      decoding_line = r.line;
      Inst in;
      if (!decode(r, in)) return fail("bad instruction");
      k->code.push_back(in);
    }
    decoding_line = 0;
    // Constant slots follow the registers; the special registers are slots too.
    const auto absolute = [this](int32_t& s) {
      if (s < 0) s = k->registers + (-1 - s);
    };
    for (Inst& in : k->code) absolute(in.d), absolute(in.a), absolute(in.b), absolute(in.c);
    for (int& slot : k->param_slots) absolute(slot);
    if (k->tid_slot != kNoSlot) absolute(k->tid_slot);
    return true;
  }

  // ------------------------------------------------------------ decoding

  bool bad(const Raw& r, const char* why) {
    std::string op;
    for (const auto& p : r.parts) op += (op.empty() ? "" : ".") + p;
    return fail(std::string(why) + ": " + op);
  }

  // A source or destination: a register, a special register or an immediate
  // of the given kind ('i' integer, 'f' single, 'd' double).
  bool slot(const std::vector<std::string>& o, char kind, int32_t& out) {
    if (o.size() == 1 && regs.count(o[0])) {
      out = regs[o[0]];
      return true;
    }
    if (o.size() == 1 && o[0] == "%tid.x") {
      if (k->tid_slot == kNoSlot) k->tid_slot = fresh_constant();  // set at launch
      out = k->tid_slot;
      return true;
    }
    if (o.size() == 1 && module->const_vars.count(o[0])) {
      out = constant(module->const_vars[o[0]].offset);
      return true;
    }
    if (o.size() == 1 && shared_vars.count(o[0])) {
      out = constant(shared_vars[o[0]].offset);
      return true;
    }
    const bool negative = !o.empty() && o[0] == "-";
    if (o.size() != (negative ? 2u : 1u)) return fail("operand");
    uint64_t bits;
    if (!number(o.back(), negative, kind, bits)) return false;
    out = constant(bits);
    return true;
  }

  // [base], [base+offset] or [base+-offset]; base a register or a variable.
  bool address(const std::vector<std::string>& o, int32_t& base, int64_t& offset) {
    if (o.size() < 3 || o.front() != "[" || o.back() != "]") return fail("address");
    offset = 0;
    if (o.size() > 3) {
      if (o[2] != "+" || o.size() < 5) return fail("address");
      const bool negative = o[3] == "-";
      uint64_t v;
      if (!number(o[negative ? 4 : 3], false, 'i', v)) return false;
      offset = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    }
    return slot({o[1]}, 'i', base);
  }

  bool decode(const Raw& r, Inst& in) {
    const auto& p = r.parts;
    const auto& o = r.operands;
    const auto has = [&p](const char* m) { return std::find(p.begin() + 1, p.end(), m) != p.end(); };
    const std::string type = p.back();
    const char kind = type == "f32" ? 'f' : type == "f64" ? 'd' : 'i';
    in.line = r.line;
    if (!r.guard.empty()) {
      if (!regs.count(r.guard)) return bad(r, "unknown guard");
      in.guard = regs[r.guard];
      in.guard_negated = r.guard_negated;
    }
    const auto operands = [&](size_t n) { return o.size() == n; };
    const auto three = [&](Op op, char k1) {
      in.op = op;
      return operands(3) && slot(o[0], k1, in.d) && slot(o[1], k1, in.a) && slot(o[2], k1, in.b);
    };
    const std::string& name = p[0];
    // Single-precision arithmetic must flush subnormals and round to nearest.
    const bool f32_ok = has("ftz") && (has("rn") || has("approx") || has("full"));
    if (name == "bar" && p.size() == 2 && p[1] == "sync") {
      in.op = kBar;
      return true;
    }
    if (name == "ret" && p.size() == 1) {
      in.op = kRet;
      return true;
    }
    if (name == "bra" && operands(1) && o[0].size() == 1 && p.size() == 1) {
      in.op = kBra;
      in.offset = labels.count(o[0][0]) ? labels[o[0][0]] : -1;
      return in.offset >= 0 || bad(r, "unknown label");
    }
    if ((name == "mov" || name == "cvta") && operands(2)) {
      if (name == "cvta" && !(p.size() == 4 && p[1] == "to" && p[2] == "global"))
        return bad(r, "unknown form");
      in.op = kMov;
      if (o[1].size() == 1 && (o[1][0] == "%ctaid.x" || o[1][0] == "%ctaid.y")) {
        in.op = o[1][0] == "%ctaid.x" ? kCtaidX : kCtaidY;
        return slot(o[0], 'i', in.d);
      }
      return slot(o[0], kind, in.d) && slot(o[1], kind, in.a);
    }
    if (name == "ld" && p.size() == 3 && p[1] == "param" && operands(2)) {
      // A parameter: its value is put in a slot at launch.
      if (o[1].size() != 3 || !params.count(o[1][1])) return bad(r, "unknown parameter");
      in.op = kMov;
      in.a = k->param_slots[params[o[1][1]]];
      return slot(o[0], 'i', in.d);
    }
    if ((name == "ld" || name == "st") && p.size() == 3 && operands(2)) {
      if (type != "f32" && type != "u32" && type != "s32") return bad(r, "unknown width");
      const std::string& space = p[1];
      const bool load = name == "ld";
      if (space == "global")
        in.op = load ? kLdGlobal : kStGlobal;
      else if (space == "shared")
        in.op = load ? kLdShared : kStShared;
      else if (space == "const" && load)
        in.op = kLdConst;
      else
        return bad(r, "unknown state space");
      return load ? slot(o[0], kind, in.d) && address(o[1], in.a, in.offset)
                  : address(o[0], in.a, in.offset) && slot(o[1], kind, in.b);
    }
    if (name == "add" && type == "s32") return three(kAddS32, 'i');
    if (name == "sub" && type == "s32") return three(kSubS32, 'i');
    if (name == "add" && type == "s64") return three(kAddS64, 'i');
    if (name == "mul" && p.size() == 3 && p[1] == "lo" && type == "s32") return three(kMulLoS32, 'i');
    if (name == "mul" && p.size() == 3 && p[1] == "wide")
      return type == "s32"   ? three(kMulWideS32, 'i')
             : type == "u32" ? three(kMulWideU32, 'i')
                             : bad(r, "unknown type");
    if (name == "shl" && type == "b32") return three(kShlB32, 'i');
    if (name == "shr" && (type == "u32" || type == "s32"))
      return three(type == "u32" ? kShrU32 : kShrS32, 'i');
    if (name == "and" && type == "b32") return three(kAndB32, 'i');
    if ((name == "max" || name == "min") && type == "s32")
      return three(name == "max" ? kMaxS32 : kMinS32, 'i');
    if (type == "f32" && (name == "add" || name == "sub" || name == "mul")) {
      if (!f32_ok) return bad(r, "single precision without .rn.ftz");
      return three(name == "add" ? kAddF32 : name == "sub" ? kSubF32 : kMulF32, 'f');
    }
    if (name == "fma" && type == "f32") {
      in.op = kFmaF32;
      return (f32_ok || bad(r, "single precision without .rn.ftz")) && operands(4) && slot(o[0], 'f', in.d) &&
             slot(o[1], 'f', in.a) && slot(o[2], 'f', in.b) && slot(o[3], 'f', in.c);
    }
    if (name == "sqrt" && type == "f32" && has("approx") && has("ftz")) {
      in.op = kSqrtApproxF32;
      return operands(2) && slot(o[0], 'f', in.d) && slot(o[1], 'f', in.a);
    }
    if (name == "div" && type == "f32" && has("full") && has("ftz")) return three(kDivFullF32, 'f');
    if (name == "mul" && type == "f64" && has("rn")) return three(kMulF64, 'd');
    if (name == "fma" && type == "f64" && has("rn")) {
      in.op = kFmaF64;
      return operands(4) && slot(o[0], 'd', in.d) && slot(o[1], 'd', in.a) && slot(o[2], 'd', in.b) &&
             slot(o[3], 'd', in.c);
    }
    if (name == "cvt" && operands(2)) {
      const std::string form = p.size() == 4   ? p[1] + "." + p[2] + "." + p[3]
                               : p.size() == 3 ? p[1] + "." + p[2]
                                               : "";
      if (form == "rn.f32.s32")
        in.op = kCvtF32S32;
      else if (form == "rzi.s32.f32")
        in.op = kCvtS32F32;
      else if (form == "f64.f32")
        in.op = kCvtF64F32;
      else if (form == "rn.f32.f64")
        in.op = kCvtF32F64;
      else
        return bad(r, "unknown conversion");
      return slot(o[0], 'i', in.d) && slot(o[1], 'i', in.a);
    }
    if (name == "selp" && operands(4)) {
      in.op = kSelp;
      return slot(o[0], kind, in.d) && slot(o[1], kind, in.a) && slot(o[2], kind, in.b) &&
             slot(o[3], 'i', in.c);
    }
    if (name == "setp" && (p.size() == 3 || p.size() == 4)) {
      static const std::map<std::string, Cmp> cmps = {
          {"eq", kEq},   {"ne", kNe},   {"lt", kLt},   {"le", kLe},   {"gt", kGt},   {"ge", kGe},
          {"equ", kEqu}, {"neu", kNeu}, {"ltu", kLtu}, {"leu", kLeu}, {"gtu", kGtu}, {"geu", kGeu}};
      if (!cmps.count(p[1])) return bad(r, "unknown comparison");
      in.cmp = cmps.at(p[1]);
      in.op = type == "s32" ? kSetpS32 : type == "u32" ? kSetpU32 : type == "f32" ? kSetpF32 : Op(255);
      if (in.op == Op(255) || (type != "f32" && in.cmp >= kEqu)) return bad(r, "unknown comparison");
      if (p.size() == 4) {
        if (p[2] != "and" && p[2] != "or") return bad(r, "unknown combination");
        in.bool_op = p[2] == "and" ? kAnd : kOr;
        if (!operands(4) || !slot(o[3], 'i', in.c)) return bad(r, "combination without a predicate");
      } else if (!operands(3)) {
        return bad(r, "operands");
      }
      return slot(o[0], 'i', in.d) && slot(o[1], kind, in.a) && slot(o[2], kind, in.b);
    }
    return bad(r, "unknown instruction");
  }
};

// ---------------------------------------------------------------- arithmetic

inline float f32_of(uint64_t v) { return std::bit_cast<float>(static_cast<uint32_t>(v)); }
inline uint64_t bits_of(float f) { return std::bit_cast<uint32_t>(f); }
inline double f64_of(uint64_t v) { return std::bit_cast<double>(v); }
inline uint64_t bits_of(double d) { return std::bit_cast<uint64_t>(d); }
inline int32_t s32(uint64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }
inline uint32_t u32(uint64_t v) { return static_cast<uint32_t>(v); }

// Subnormals become zeros of the same sign.
inline float ftz(float x) {
  uint32_t u;
  std::memcpy(&u, &x, 4);
  if ((u & 0x7f800000u) == 0) u &= 0x80000000u;
  std::memcpy(&x, &u, 4);
  return x;
}
inline float in_f(uint64_t v) { return ftz(f32_of(v)); }
inline uint64_t out_f(float x) { return bits_of(ftz(x)); }

// One step from r towards +inf (step > 0) or -inf while still within
// `bound` of the exact value; else r itself.
float stepped(float r, double exact, double bound, int step) {
  if (step == 0 || !std::isfinite(r) || r == 0.0f) return r;
  const float s = std::nextafter(r, step > 0 ? INFINITY : -INFINITY);
  return std::fabs(static_cast<double>(s) - exact) <= bound ? s : r;
}

// sqrt.approx: relative error at most 2^-23 over the positive finite range.
float approx_sqrt(float x, int step) {
  const float r = std::sqrt(x);
  if (!(x > 0.0f) || !std::isfinite(x)) return r;
  const double exact = std::sqrt(static_cast<double>(x));
  return stepped(r, exact, exact * 0x1p-23, step);
}

// div.full: at most 2 units in the last place.
float full_div(float a, float b, int step) {
  const float r = a / b;
  if (!std::isfinite(r) || r == 0.0f) return r;
  const double exact = static_cast<double>(a) / static_cast<double>(b);
  const float ulp = std::nextafter(std::fabs(r), INFINITY) - std::fabs(r);
  return stepped(r, exact, 2.0 * ulp, step);
}

inline bool compare(Cmp c, double a, double b) {
  const bool unordered = std::isnan(a) || std::isnan(b);
  switch (c) {
    case kEq:
      return a == b;
    case kNe:
      return !unordered && a != b;
    case kLt:
      return a < b;
    case kLe:
      return a <= b;
    case kGt:
      return a > b;
    case kGe:
      return a >= b;
    case kEqu:
      return unordered || a == b;
    case kNeu:
      return unordered || a != b;
    case kLtu:
      return unordered || a < b;
    case kLeu:
      return unordered || a <= b;
    case kGtu:
      return unordered || a > b;
    case kGeu:
      return unordered || a >= b;
  }
  return false;
}

inline int32_t truncate_to_s32(float x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483648.0f) return INT32_MAX;
  if (x < -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(x);
}

// ---------------------------------------------------------------- execution

struct Launch {
  const PtxModule& m;
  const Kernel& k;
  const std::vector<PtxRegion>& memory;
  const PtxOptions& options;
  std::vector<unsigned char> shared;
  unsigned ctaid_x = 0, ctaid_y = 0;
  size_t last_region = 0;
  std::string error;

  bool fault(const Inst& in, const std::string& what) {
    if (error.empty())
      error = k.name + ", line " + std::to_string(in.line) + ", block (" + std::to_string(ctaid_x) + ", " +
              std::to_string(ctaid_y) + "): " + what;
    return false;
  }

  unsigned char* global(const Inst& in, uint64_t address) {
    if (address % 4 != 0) return fault(in, "misaligned global access"), nullptr;
    for (size_t n = 0; n < memory.size(); ++n) {
      const PtxRegion& r = memory[(last_region + n) % memory.size()];
      if (address >= r.base && address - r.base + 4 <= r.bytes) {
        last_region = (last_region + n) % memory.size();
        return r.host + (address - r.base);
      }
    }
    return fault(in, "global access outside memory"), nullptr;
  }

  // Runs one thread from pc until it reaches a barrier (true) or returns
  // (false); a fault ends it too (false, with error set).
  bool run(uint64_t* R, int& pc) {
    const Inst* code = k.code.data();
    for (;;) {
      const Inst& in = code[pc++];
      if (in.guard >= 0 && (R[in.guard] != 0) == in.guard_negated) continue;
      switch (in.op) {
        case kMov:
          R[in.d] = R[in.a];
          break;
        case kCtaidX:
          R[in.d] = ctaid_x;
          break;
        case kCtaidY:
          R[in.d] = ctaid_y;
          break;
        case kAddS32:
          R[in.d] = u32(R[in.a]) + u32(R[in.b]);
          break;
        case kSubS32:
          R[in.d] = u32(u32(R[in.a]) - u32(R[in.b]));
          break;
        case kMulLoS32:
          R[in.d] = u32(u32(R[in.a]) * u32(R[in.b]));
          break;
        case kShlB32:
          R[in.d] = u32(R[in.b]) >= 32 ? 0 : u32(u32(R[in.a]) << u32(R[in.b]));
          break;
        case kShrU32:
          R[in.d] = u32(R[in.b]) >= 32 ? 0 : u32(R[in.a]) >> u32(R[in.b]);
          break;
        case kShrS32:
          R[in.d] = u32(s32(R[in.a]) >> std::min(u32(R[in.b]), 31u));
          break;
        case kAndB32:
          R[in.d] = u32(R[in.a]) & u32(R[in.b]);
          break;
        case kMaxS32:
          R[in.d] = u32(std::max(s32(R[in.a]), s32(R[in.b])));
          break;
        case kMinS32:
          R[in.d] = u32(std::min(s32(R[in.a]), s32(R[in.b])));
          break;
        case kMulWideS32:
          R[in.d] = static_cast<uint64_t>(int64_t{s32(R[in.a])} * int64_t{s32(R[in.b])});
          break;
        case kMulWideU32:
          R[in.d] = uint64_t{u32(R[in.a])} * uint64_t{u32(R[in.b])};
          break;
        case kAddS64:
          R[in.d] = R[in.a] + R[in.b];
          break;
        case kAddF32:
          R[in.d] = out_f(in_f(R[in.a]) + in_f(R[in.b]));
          break;
        case kSubF32:
          R[in.d] = out_f(in_f(R[in.a]) - in_f(R[in.b]));
          break;
        case kMulF32:
          R[in.d] = out_f(in_f(R[in.a]) * in_f(R[in.b]));
          break;
        case kFmaF32:
          R[in.d] = out_f(std::fma(in_f(R[in.a]), in_f(R[in.b]), in_f(R[in.c])));
          break;
        case kSqrtApproxF32:
          R[in.d] = out_f(approx_sqrt(in_f(R[in.a]), options.approx_step));
          break;
        case kDivFullF32:
          R[in.d] = out_f(full_div(in_f(R[in.a]), in_f(R[in.b]), options.approx_step));
          break;
        case kMulF64:
          R[in.d] = bits_of(f64_of(R[in.a]) * f64_of(R[in.b]));
          break;
        case kFmaF64:
          R[in.d] = bits_of(std::fma(f64_of(R[in.a]), f64_of(R[in.b]), f64_of(R[in.c])));
          break;
        case kCvtF32S32:
          R[in.d] = bits_of(static_cast<float>(s32(R[in.a])));
          break;
        case kCvtS32F32:
          R[in.d] = u32(truncate_to_s32(f32_of(R[in.a])));
          break;
        case kCvtF64F32:
          R[in.d] = bits_of(static_cast<double>(f32_of(R[in.a])));
          break;
        case kCvtF32F64:
          R[in.d] = bits_of(static_cast<float>(f64_of(R[in.a])));
          break;
        case kSetpS32:
        case kSetpU32:
        case kSetpF32: {
          bool v;
          if (in.op == kSetpF32)
            v = compare(in.cmp, f32_of(R[in.a]), f32_of(R[in.b]));
          else if (in.op == kSetpS32)
            v = compare(in.cmp, s32(R[in.a]), s32(R[in.b]));
          else
            v = compare(in.cmp, u32(R[in.a]), u32(R[in.b]));
          if (in.bool_op == kAnd) v = v && R[in.c] != 0;
          if (in.bool_op == kOr) v = v || R[in.c] != 0;
          R[in.d] = v;
          break;
        }
        case kSelp:
          R[in.d] = R[in.c] != 0 ? R[in.a] : R[in.b];
          break;
        case kLdGlobal:
        case kStGlobal: {
          unsigned char* at = global(in, R[in.a] + static_cast<uint64_t>(in.offset));
          if (at == nullptr) return false;
          if (in.op == kLdGlobal) {
            uint32_t w;
            std::memcpy(&w, at, 4);
            R[in.d] = w;
          } else {
            const uint32_t w = u32(R[in.b]);
            std::memcpy(at, &w, 4);
          }
          break;
        }
        case kLdConst:
        case kLdShared:
        case kStShared: {
          const bool is_const = in.op == kLdConst;
          const uint64_t a = R[in.a] + static_cast<uint64_t>(in.offset);
          const std::vector<uint8_t>& valid = is_const ? m.const_valid : k.shared_valid;
          if (a % 4 != 0 || a / 4 >= valid.size() || !valid[a / 4])
            return fault(
                in, is_const ? "constant access outside a variable" : "shared access outside a variable");
          unsigned char* at =
              (is_const ? const_cast<unsigned char*>(m.const_data.data()) : shared.data()) + a;
          if (in.op == kStShared) {
            const uint32_t w = u32(R[in.b]);
            std::memcpy(at, &w, 4);
          } else {
            uint32_t w;
            std::memcpy(&w, at, 4);
            R[in.d] = w;
          }
          break;
        }
        case kBra:
          pc = static_cast<int>(in.offset);
          break;
        case kBar:
          return true;
        case kRet:
          return false;
      }
    }
  }

  // Every thread of one block, segment by segment between barriers.
  bool block(unsigned block_x, std::vector<uint64_t>& regs, std::vector<int>& order, std::mt19937& rng) {
    const int slots = static_cast<int>(regs.size() / block_x);
    // Shared memory starts as non-numbers, so that reading a word before it
    // is written shows.
    std::fill(shared.begin(), shared.end(), 0xff);
    std::vector<int> pc(block_x, 0);
    for (;;) {
      if (options.order == PtxOrder::shuffled) std::shuffle(order.begin(), order.end(), rng);
      int returned = 0, waiting = -1;
      for (int t : order) {
        if (run(regs.data() + static_cast<size_t>(t) * slots, pc[t]))
          waiting = t;
        else
          ++returned;
        if (!error.empty()) return false;
      }
      if (waiting < 0) return true;  // every thread has returned
      if (returned != 0) return fault(k.code[pc[waiting] - 1], "threads left while others wait at a barrier");
    }
  }
};

}  // namespace

PtxModulePtr ptx_load(const char* text, std::string& error) {
  PtxModulePtr m(new PtxModule);
  Parser p;
  p.toks = tokenize(text);
  p.module = m.get();
  if (!p.parse()) {
    error = "line " + std::to_string(p.error_line) + ": " + p.error;
    return nullptr;
  }
  return m;
}

int ptx_kernel(const PtxModule& m, const char* name) {
  for (size_t i = 0; i < m.kernels.size(); ++i)
    if (m.kernels[i].name == name) return static_cast<int>(i);
  return -1;
}

int ptx_param_count(const PtxModule& m, int kernel) {
  return static_cast<int>(m.kernels[kernel].param_slots.size());
}

std::vector<uint32_t> ptx_const_words(const PtxModule& m, const char* name) {
  std::vector<uint32_t> out;
  auto it = m.const_vars.find(name);
  if (it == m.const_vars.end()) return out;
  out.resize(it->second.bytes / 4);
  std::memcpy(out.data(), m.const_data.data() + it->second.offset, it->second.bytes);
  return out;
}

std::string ptx_launch(const PtxModule& m, int kernel, unsigned grid_x, unsigned grid_y, unsigned block_x,
                       const uint64_t* params, const std::vector<PtxRegion>& memory,
                       const PtxOptions& options) {
  const Kernel& k = m.kernels[kernel];
  Launch run{m, k, memory, options, std::vector<unsigned char>(k.shared_bytes), 0, 0, 0, {}};
  // One register file per thread of a block, reused by every block; the
  // constant slots (immediates, parameters, indices) are filled once.
  const int slots = k.registers + static_cast<int>(k.constants.size());
  std::vector<uint64_t> regs(static_cast<size_t>(block_x) * slots, 0);
  for (unsigned t = 0; t < block_x; ++t) {
    uint64_t* R = regs.data() + static_cast<size_t>(t) * slots;
    std::copy(k.constants.begin(), k.constants.end(), R + k.registers);
    for (size_t i = 0; i < k.param_slots.size(); ++i) R[k.param_slots[i]] = params[i];
    if (k.tid_slot != kNoSlot) R[k.tid_slot] = t;
  }
  std::vector<int> order(block_x);
  std::iota(order.begin(), order.end(), 0);
  if (options.order == PtxOrder::reverse) std::reverse(order.begin(), order.end());
  std::mt19937 rng(options.seed);
  for (unsigned y = 0; y < grid_y; ++y) {
    for (unsigned x = 0; x < grid_x; ++x) {
      run.ctaid_x = x, run.ctaid_y = y;
      if (!run.block(block_x, regs, order, rng)) return run.error;
    }
  }
  return {};
}
