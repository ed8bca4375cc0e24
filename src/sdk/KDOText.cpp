#include "sdk/KDOText.h"

#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "sdk/TextHeap.h"

namespace kdo::text {

namespace {
Header* HeaderOf(KDOString s) noexcept {
  return reinterpret_cast<Header*>(s - sizeof(Header));
}
}  // namespace

KDOString Make(std::string_view s) {
  if (s.empty()) return nullptr;
  if (s.size() > std::size_t(std::numeric_limits<int32_t>::max()) - sizeof(Header) - 1)
    throw std::length_error("text too long");
  void* block = kdo::text::TextAlloc(sizeof(Header) + s.size() + 1);
  if (!block) throw std::bad_alloc();
  auto* head = static_cast<Header*>(block);
  head->RefCount = 1;
  head->Length = int32_t(s.size());
  char* chars = static_cast<char*>(block) + sizeof(Header);
  std::memcpy(chars, s.data(), s.size());
  chars[s.size()] = '\0';
  return chars;
}

void AddRef(KDOString s) noexcept {
  if (!s) return;
  Header* h = HeaderOf(s);
  if (h->RefCount >= 0) ++h->RefCount;
}

void Release(KDOString s) noexcept {
  if (!s) return;
  Header* h = HeaderOf(s);
  if (h->RefCount < 0) return;  // constant
  if (--h->RefCount == 0) kdo::text::TextFree(h);
}

int32_t RefCount(KDOString s) noexcept { return s ? HeaderOf(s)->RefCount : 0; }

std::string_view View(KDOString s) noexcept {
  if (!s) return {};
  int32_t n = HeaderOf(s)->Length;
  return n > 0 ? std::string_view(s, std::size_t(n)) : std::string_view();
}

void Assign(KDOString* var, KDOString value) noexcept {
  AddRef(value);  // first, so self-assignment stays alive
  KDOString old = *var;
  *var = value;
  Release(old);
}

std::string LowerAZ(std::string_view s) {
  std::string folded(s);
  for (char& c : folded) c = LowerAZ(c);
  return folded;
}

bool EqualIgnoringAZCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAZ(a[i]) != LowerAZ(b[i])) return false;
  return true;
}

}  // namespace kdo::text
