// The server's counted 8-bit text, and an owning handle for it.
//
// Representation at the binary boundary: a pointer to NUL-terminated chars;
// the 32-bit length sits 4 bytes before the chars, the 32-bit reference count
// 8 bytes before them (-1 marks a constant that is never counted or freed).
// A null pointer is the empty text. An out-text is the address of the caller's
// text variable: the callee releases what the variable held and stores a text
// whose reference the caller then owns. In-texts are borrowed.
//
// Allocation rule (module and server stand-in alike): on Windows every text
// is allocated and freed on the process heap (GetProcessHeap), because the DLL
// and the server each link their own C runtime and a text made by one side is
// released by the other. In the native build one allocator serves both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using KDOString = char*;

namespace kdo::text {

// Header laid out in front of the chars.
struct Header {
  int32_t RefCount;
  int32_t Length;
};
static_assert(sizeof(Header) == 8);

// A new text holding a copy of `s`, reference count 1; null for an empty `s`.
// Throws std::bad_alloc or std::length_error (texts are limited to 2^31-1 bytes).
KDOString Make(std::string_view s);
void AddRef(KDOString s) noexcept;
void Release(KDOString s) noexcept;
int32_t RefCount(KDOString s) noexcept;  // 0 for null
std::string_view View(KDOString s) noexcept;
// Out-text assignment: takes a new reference to `value`, releases the old one.
void Assign(KDOString* var, KDOString value) noexcept;

// The case folding of every text compare: only the letters A to Z have a case.
constexpr char LowerAZ(char c) noexcept { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
std::string LowerAZ(std::string_view s);
// Equal when they differ at most in the case of the letters A to Z.
bool EqualIgnoringAZCase(std::string_view a, std::string_view b) noexcept;

// A constant text with static storage, as the server's constant texts are laid out.
template <std::size_t N>
struct Constant {
  Header head;
  char chars[N];
  constexpr explicit Constant(const char (&s)[N]) : head{-1, int32_t(N - 1)}, chars{} {
    for (std::size_t i = 0; i < N; ++i) chars[i] = s[i];
  }
  constexpr KDOString get() const noexcept { return const_cast<char*>(chars); }
};

// A literal as a template argument, so that a table row can name its constant text in place.
template <std::size_t N>
struct Literal {
  char s[N];
  constexpr Literal(const char (&a)[N]) : s{} {
    for (std::size_t i = 0; i < N; ++i) s[i] = a[i];
  }
};
template <Literal L>
inline constexpr Constant<sizeof(L.s)> kConstant(L.s);
// The constant text of that literal, one per distinct literal.
template <Literal L>
constexpr KDOString Const() noexcept {
  return kConstant<L>.get();
}

}  // namespace kdo::text

// Owns one reference to a counted text. Exactly one pointer wide, so records of
// these have the layout of records of KDOString.
class TKDOText {
 public:
  TKDOText() noexcept = default;
  TKDOText(std::string_view s) : p_(kdo::text::Make(s)) {}
  TKDOText(const char* s) : TKDOText(std::string_view(s ? s : "")) {}
  // Takes a new reference to a borrowed text.
  static TKDOText Share(KDOString s) noexcept {
    TKDOText t;
    kdo::text::Assign(&t.p_, s);
    return t;
  }
  TKDOText(const TKDOText& o) noexcept { kdo::text::Assign(&p_, o.p_); }
  TKDOText(TKDOText&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  TKDOText& operator=(const TKDOText& o) noexcept {
    kdo::text::Assign(&p_, o.p_);
    return *this;
  }
  TKDOText& operator=(TKDOText&& o) noexcept {
    if (this != &o) {
      kdo::text::Release(p_);
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  ~TKDOText() { kdo::text::Release(p_); }

  KDOString get() const noexcept { return p_; }
  // For out-texts: the callee assigns through this address.
  KDOString* out() noexcept { return &p_; }
  // Hands the reference over to the caller.
  KDOString detach() noexcept {
    KDOString p = p_;
    p_ = nullptr;
    return p;
  }
  std::string_view view() const noexcept { return kdo::text::View(p_); }
  std::string str() const { return std::string(view()); }
  bool empty() const noexcept { return view().empty(); }

 private:
  KDOString p_ = nullptr;
};
static_assert(sizeof(TKDOText) == sizeof(KDOString));
