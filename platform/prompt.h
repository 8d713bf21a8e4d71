// The only way the library talks to the user besides progress: messages and
// Yes/No/Cancel questions. The shell implements it on the terminal; tests
// script the answers.
#pragma once

#include <string>
#include <vector>

namespace zv {

enum class Answer { Yes, No, Cancel };

class IPrompt {
 public:
  virtual ~IPrompt() = default;
  virtual void Message(const std::string& text) = 0;
  virtual Answer Ask(const std::string& text) = 0;
};

// Answers every question the same way and records what it was shown.
class ScriptedPrompt : public IPrompt {
 public:
  explicit ScriptedPrompt(Answer answer = Answer::No) : answer_(answer) {}
  void Message(const std::string& text) override { messages.push_back(text); }
  Answer Ask(const std::string& text) override {
    questions.push_back(text);
    if (!queued.empty()) {
      Answer a = queued.front();
      queued.erase(queued.begin());
      return a;
    }
    return answer_;
  }
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::vector<Answer> queued;  // answered first, in order

 private:
  Answer answer_;
};

}  // namespace zv
