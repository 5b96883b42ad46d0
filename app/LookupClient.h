#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/DictionaryEntry.h"
#include "app/GeminiKeyManager.h"
#include "app/LookupError.h"
#include "app/RefineResult.h"
#include "app/TranslationResult.h"
#include "platform/CancelToken.h"
#include "platform/Executor.h"
#include "platform/HttpClient.h"

namespace quorvelle {

// The application's client of its own backend: translate, refine, dictionary lookup and the address of
// the pronunciation audio proxy. Every reply is one JSON envelope; transport failures, malformed replies
// and refusals come back as LookupError values, and each failure leaves one log line (the call, how it
// failed, the HTTP status; never the user's text or key).
//
// Call from the main thread. Each operation returns at once; its completion runs exactly once as a job on
// the main executor, where the reply is also decoded. Cancelling the token while the transfer runs ends
// the call with backendUnreachable; once the reply has arrived it is delivered regardless. Calls are
// independent and may overlap. The client keeps no per-call state; the references must outlive it and
// the calls under way.
class LookupClient {
 public:
  static constexpr std::chrono::milliseconds kRequestTimeout{60'000};

  template <class T>
  using Completion = std::function<void(LookupResult<T>)>;

  // `baseURL`: the backend's address (compiledBackendURL() in the program, a loopback server in tests).
  // `defaultRefinePrompt`: the settings' default prompt, which refine never sends.
  // `geminiKey` must deliver its reads on `mainExecutor`.
  LookupClient(platform::HttpClient& http, platform::Executor& mainExecutor,
               const GeminiKeyManager& geminiKey, std::string baseURL, std::string defaultRefinePrompt,
               std::chrono::milliseconds requestTimeout = kRequestTimeout);

  void translate(const std::string& text, const std::string& target, platform::CancelToken cancel,
                 Completion<TranslationResult> completion) const;
  // Reads the Gemini key (GeminiKeyManager) from the keyring at every call, without waiting for it on the
  // calling thread. A keyring that fails or does not answer ends the call with a server error saying so
  // (GeminiKeyManager::kKeyringDidNotAnswer), before anything is sent.
  void refine(const std::string& text, const std::string& prompt, const std::string& language,
              platform::CancelToken cancel, Completion<RefineResult> completion) const;
  void lookup(const std::string& word, const std::string& accent, platform::CancelToken cancel,
              Completion<DictionaryEntry> completion) const;
  // The proxy address through which the recording at `audioUrl` is played; nothing when none can be formed.
  // Sends nothing.
  std::optional<std::string> audioProxyURL(const std::string& audioUrl) const;

 private:
  platform::HttpRequest jsonPost(std::string_view path, const std::string& body,
                                 platform::CancelToken cancel) const;
  // `endpoint` names the call in the log line of a failure; a string literal.
  template <class T>
  void request(std::string_view endpoint, platform::HttpRequest request, Completion<T> completion) const;

  platform::HttpClient& http_;
  platform::Executor& mainExecutor_;
  const GeminiKeyManager& geminiKey_;
  std::string baseURL_;
  std::string defaultRefinePrompt_;
  std::chrono::milliseconds requestTimeout_;
};

}  // namespace quorvelle
