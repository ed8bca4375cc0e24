// The questions asked of other windows without waiting that this thread has
// asked, common to both platforms; asking belongs to each platform.
#include <map>

#include "platform/Platform.h"
#include "sdk/KDOGuard.h"
#include "sdk/KDOText.h"

namespace platform {

namespace {
// Questions asked, by identifier: an answer for a question that is no longer
// here (its asker went, or asked again) is dropped. All of the module runs on
// the server's thread. Not thread_local: a thread-local object with a
// destructor would keep the module loaded until that thread ends.
std::map<uintptr_t, AnswerQuestion*> tAsked;
uintptr_t tLastId = 0;
}  // namespace

bool AnswerQuestion::Ask(WindowHandle window, std::function<void()> onAnswer) {
  return Ask(window, WM_NULL_, 0, 0, [onAnswer = std::move(onAnswer)](int32_t) {
    if (onAnswer) onAnswer();
  });
}

bool AnswerQuestion::Ask(WindowHandle window, uint32_t message, uint32_t wParam, uint32_t lParam,
                         std::function<void(int32_t reply)> onAnswer) {
  Cancel();
  uintptr_t id = ++tLastId;
  if (id == 0) id = ++tLastId;  // 0 means "none"
  if (!AskWindow(window, id, message, wParam, lParam)) return false;
  id_ = id;
  onAnswer_ = std::move(onAnswer);
  tAsked[id] = this;
  return true;
}

void AnswerQuestion::Cancel() {
  if (id_) tAsked.erase(id_);
  id_ = 0;
  onAnswer_ = nullptr;
}

// Comes from the message loop: nothing may escape into it. The handler may end
// the asker, so it runs from here, after the question is done with.
void AnswerQuestion::Answered(uintptr_t id, int32_t reply) {
  auto it = tAsked.find(id);
  if (it == tAsked.end()) return;
  AnswerQuestion* question = it->second;
  tAsked.erase(it);
  question->id_ = 0;
  const std::function<void(int32_t)> handler = std::move(question->onAnswer_);
  question->onAnswer_ = nullptr;
  const Dispatch dispatch;
  KDOGuard(kdo::text::Const<"a player's answer">(), [&] {
    if (handler) handler(reply);
  });
}

}  // namespace platform
