#include "ErrorText.h"

namespace KOLV::host {

namespace {

// How far into a message the node may be named for it to be the opening
// ("SpeechEnhancement node 'x'", "BinauralMultisourceLocalization 'x'").
constexpr size_t kOpeningLength = 64;

// The innermost error's own words.
std::string plainText(BaseException *e) {
  if (auto *general = dynamic_cast<GeneralException *>(e)) return general->message();
  if (auto *node = dynamic_cast<NodeException *>(e)) return userText(node);
  return e->text();
}

}  // namespace

std::string withoutNodePrefix(const std::string &message, const std::string &nodeName) {
  const std::string quoted = "'" + nodeName + "'";
  const size_t at = message.find(quoted);
  // Only an opening: the name within the first words, followed by ": ".
  if (at == std::string::npos || at > kOpeningLength) return message;
  const size_t colon = message.find(": ", at + quoted.size());
  if (colon == std::string::npos || message.find('\n') < colon) return message;
  return message.substr(colon + 2);
}

std::string userText(BaseException *e) {
  auto *failure = dynamic_cast<NodeException *>(e);
  if (!failure) return plainText(e);
  const std::string head = "node '" + failure->nodeName() + "' (" + failure->nodeType() +
                           ") failed at frame " + std::to_string(failure->frame()) + ": ";
  // A node that failed while pulling frames from another: the one that
  // failed first is the one to name.
  if (auto *inner = dynamic_cast<NodeException *>(failure->cause())) return userText(inner);
  if (!failure->cause()) return head + withoutNodePrefix(failure->causeText(), failure->nodeName());
  return head + withoutNodePrefix(plainText(failure->cause()), failure->nodeName());
}

}  // namespace KOLV::host
