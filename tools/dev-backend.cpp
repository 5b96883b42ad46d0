// A development and demo stand-in for Quorvelle's backend service, which lies outside the program. It
// serves the four endpoints the application calls, on 127.0.0.1 only, from a small built-in word table
// that holds the onboarding tutorial's practice word and drafts.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/http/LoopbackHttpServer.h"
#include "tools/StopSignals.h"

namespace {

using quorvelle::test::LoopbackHttpServer;
using quorvelle::test::RecordedRequest;
using quorvelle::test::ScriptedReply;
using Json = nlohmann::json;

constexpr std::uint16_t kDefaultPort = 8787;

const char* kHelp =
    "usage: dev-backend [--port N] [--log-requests] [--hang-up PATH]\n"
    "\n"
    "A development and demo stand-in for Quorvelle's backend. The real backend is a separate service that\n"
    "lies outside this program; this one answers from a tiny built-in word table so that the application "
    "and\n"
    "its tests can run without it. It listens on 127.0.0.1 only (port 8787 by default, 0 picks a free one)\n"
    "and prints its address on the first line of standard output. With --log-requests it then prints\n"
    "each request's method and target on a line of its own as the request arrives, followed by the\n"
    "member names of a JSON body (never their values, which may hold the user's key), e.g.\n"
    "\"POST /refine apiKey,language,text\". With --hang-up it closes the connection without an answer on\n"
    "every request for PATH (e.g. /refine), as a backend that drops connections does.\n"
    "\n"
    "  POST /translate     {\"text\", \"target\"}                      -> {\"translated\"}\n"
    "  POST /refine        {\"text\", \"language\", \"prompt\"?, \"apiKey\"?} -> {\"refined\"}: three "
    "variants\n"
    "                      separated by lines holding \"---\"\n"
    "  GET  /lookup/WORD?accent=uk|us                              -> {\"ipa\", \"definition\", "
    "\"audioUrl\", \"pageUrl\"}\n"
    "  GET  /audio?src=URL  plays a recording of this server's own (audioUrl of a lookup)\n"
    "\n"
    "Every JSON reply is the envelope {\"success\", \"data\"?, \"error\"?}. Stop it with Ctrl+C.\n";

struct Word {
  const char* ipaUK;
  const char* ipaUS;
  const char* definition;
  std::map<std::string, std::string> translations;  // by language code
};

const std::map<std::string, Word>& words() {
  static const std::map<std::string, Word> table = {
      {"hello",
       {"/həˈləʊ/", "/həˈloʊ/", "Used as a greeting.", {{"ru", "привет"}, {"de", "hallo"}, {"es", "hola"}}}},
      {"world",
       {"/wɜːld/",
        "/wɝːld/",
        "The earth, together with all of its countries and peoples.",
        {{"ru", "мир"}, {"de", "Welt"}, {"es", "mundo"}}}},
      {"tomato",
       {"/təˈmɑːtəʊ/",
        "/təˈmeɪtoʊ/",
        "A red fruit eaten as a vegetable.",
        {{"ru", "помидор"}, {"de", "Tomate"}, {"es", "tomate"}}}},
      {"schedule",
       {"/ˈʃedjuːl/",
        "/ˈskedʒuːl/",
        "A plan of times at which things are to happen.",
        {{"ru", "расписание"}, {"de", "Zeitplan"}, {"es", "horario"}}}},
      {"water",
       {"/ˈwɔːtə/",
        "/ˈwɑːtɚ/",
        "A clear liquid that falls as rain.",
        {{"ru", "вода"}, {"de", "Wasser"}, {"es", "agua"}}}},
      // The onboarding tutorial's practice word, in every target language of the settings.
      {"serendipity",
       {"/ˌserənˈdɪpəti/",
        "/ˌserənˈdɪpət̬i/",
        "The fact of finding interesting or valuable things by chance.",
        {{"ru", "счастливая случайность"},
         {"uk", "щаслива випадковість"},
         {"es", "serendipia"},
         {"fr", "sérendipité"},
         {"de", "glücklicher Zufall"},
         {"it", "serendipità"},
         {"pt", "serendipidade"},
         {"pl", "szczęśliwy traf"},
         {"tr", "mutlu tesadüf"},
         {"nl", "serendipiteit"},
         {"sv", "lycklig slump"},
         {"cs", "šťastná náhoda"},
         {"el", "ευτυχής συγκυρία"},
         {"he", "צירוף מקרים משמח"},
         {"ar", "صدفة سعيدة"},
         {"hi", "सुखद संयोग"},
         {"vi", "sự tình cờ may mắn"},
         {"id", "kebetulan yang menyenangkan"},
         {"ja", "セレンディピティ"},
         {"ko", "뜻밖의 행운"},
         {"zh-CN", "机缘巧合"}}}},
      {"привет", {nullptr, nullptr, nullptr, {{"en", "hello"}}}},
      {"мир", {nullptr, nullptr, nullptr, {{"en", "world"}}}},
  };
  return table;
}

// The onboarding tutorial's practice drafts (one per native language), refined as a real backend would.
const std::map<std::string, std::string>& refinedDrafts() {
  static const std::map<std::string, std::string> table = {
      {"i has wrote this sentense very fast, plz make it more better",
       "I wrote this sentence very quickly; please make it better.\n---\n"
       "I wrote this sentence in a hurry. Could you please improve it?\n---\n"
       "Written in haste: please polish this sentence."},
      {"мне нужно fix этот text, он написан very плохо",
       "I need to fix this text; it is very badly written.\n---\n"
       "Could you help me fix this text? It's very poorly written.\n---\n"
       "This text needs fixing: it is badly written."},
      {"мені треба fix цей text, він написаний very погано",
       "I need to fix this text; it is very badly written.\n---\n"
       "Could you help me fix this text? It's very poorly written.\n---\n"
       "This text needs fixing: it is badly written."},
      {"necesito fix este texto, está escrito very mal",
       "I need to fix this text; it is very badly written.\n---\n"
       "I have to correct this text, because it's very poorly written.\n---\n"
       "This text needs fixing: it is badly written."},
      {"ich muss diesen text fixen, er ist very schlecht geschrieben",
       "I have to fix this text; it is very badly written.\n---\n"
       "This text needs to be fixed, as it's very poorly written.\n---\n"
       "I must correct this text: it is badly written."},
      {"je dois fix ce texte, il est écrit very mal",
       "I have to fix this text; it is very badly written.\n---\n"
       "This text needs fixing, because it's very poorly written.\n---\n"
       "I must correct this text: it is badly written."},
  };
  return table;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

ScriptedReply success(Json data) {
  return ScriptedReply::json(Json{{"success", true}, {"data", std::move(data)}}.dump());
}

ScriptedReply failure(const std::string& message, int status) {
  return ScriptedReply::json(Json{{"success", false}, {"error", message}}.dump(), status);
}

// A short tone as 16-bit mono PCM in a WAV container: a recording of its own, so nothing is fetched.
std::string recording(double frequency) {
  constexpr int kRate = 16000;
  constexpr int kSamples = kRate * 2 / 5;
  std::string wav;
  auto put = [&](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) wav.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  };
  wav += "RIFF";
  put(36 + kSamples * 2, 4);
  wav += "WAVEfmt ";
  put(16, 4);
  put(1, 2);  // PCM
  put(1, 2);  // mono
  put(kRate, 4);
  put(kRate * 2, 4);
  put(2, 2);
  put(16, 2);
  wav += "data";
  put(kSamples * 2, 4);
  for (int i = 0; i < kSamples; ++i) {
    const double envelope = std::sin(M_PI * i / kSamples);
    const auto sample =
        static_cast<std::int16_t>(9000 * envelope * std::sin(2 * M_PI * frequency * i / kRate));
    put(static_cast<std::uint16_t>(sample), 2);
  }
  return wav;
}

class DevBackend {
 public:
  explicit DevBackend(std::string base) : base_(std::move(base)) {}

  ScriptedReply handle(const RecordedRequest& request) const {
    if (request.method == "POST" && request.path == "/translate") return translate(request);
    if (request.method == "POST" && request.path == "/refine") return refine(request);
    if (request.method == "GET" && request.path.starts_with("/lookup/")) return lookup(request);
    if (request.method == "GET" && request.path == "/audio")
      return audio(request.queryValue("src").value_or(""));
    return failure("No such endpoint: " + request.method + " " + request.path, 404);
  }

 private:
  static std::optional<Json> bodyOf(const RecordedRequest& request) {
    Json body = Json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) return std::nullopt;
    return body;
  }

  static std::string member(const Json& body, const char* key) {
    const auto it = body.find(key);
    return it != body.end() && it->is_string() ? it->get<std::string>() : std::string();
  }

  static ScriptedReply translate(const RecordedRequest& request) {
    const auto body = bodyOf(request);
    if (!body) return failure("The body must be a JSON object", 400);
    const std::string text = member(*body, "text");
    const std::string target = member(*body, "target");
    if (trimmed(text).empty() || target.empty()) return failure("\"text\" and \"target\" are required", 400);
    const auto word = words().find(lower(trimmed(text)));
    if (word != words().end()) {
      const auto translation = word->second.translations.find(target);
      if (translation != word->second.translations.end())
        return success({{"translated", translation->second}});
    }
    return success({{"translated", "[" + target + "] " + text}});
  }

  static ScriptedReply refine(const RecordedRequest& request) {
    const auto body = bodyOf(request);
    if (!body) return failure("The body must be a JSON object", 400);
    std::string text = trimmed(member(*body, "text"));
    if (text.empty()) return failure("\"text\" is required", 400);
    if (const auto draft = refinedDrafts().find(text); draft != refinedDrafts().end())
      return success({{"refined", draft->second}});
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (!std::strchr(".!?", text.back())) text += '.';
    const std::string note = body->contains("prompt") ? " (custom prompt)" : "";
    return success({{"refined", text + "\n---\n" + "Could you take a look: " + text + note + "\n---\n" +
                                    "In short, " + text}});
  }

  ScriptedReply lookup(const RecordedRequest& request) const {
    const std::string word =
        lower(quorvelle::test::percentDecode(request.path.substr(std::strlen("/lookup/"))));
    const std::string accent = request.queryValue("accent").value_or("uk") == "us" ? "us" : "uk";
    const auto entry = words().find(word);
    if (entry == words().end() || entry->second.definition == nullptr) {
      return failure("No dictionary entry for \"" + word + "\"", 404);
    }
    return success({{"ipa", accent == "us" ? entry->second.ipaUS : entry->second.ipaUK},
                    {"definition", entry->second.definition},
                    {"audioUrl", base_ + "/recordings/" + entry->first + "-" + accent + ".wav"},
                    {"pageUrl", "https://en.wiktionary.org/wiki/" + entry->first}});
  }

  ScriptedReply audio(const std::string& src) const {
    const std::string prefix = base_ + "/recordings/";
    if (!src.starts_with(prefix) || !src.ends_with(".wav")) {
      return failure("This stand-in only plays its own recordings", 400);
    }
    ScriptedReply reply;
    reply.headers = {{"Content-Type", "audio/wav"}};
    reply.body = recording(src.ends_with("-us.wav") ? 523.25 : 440.0);
    return reply;
  }

  std::string base_;
};

}  // namespace

int main(int argc, char** argv) {
  long port = kDefaultPort;
  bool logRequests = false;
  std::string hangUpPath;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--log-requests") {
      logRequests = true;
      continue;
    }
    if (arg == "--hang-up" && i + 1 < argc) {
      hangUpPath = argv[++i];
      continue;
    }
    if (arg == "--port" && i + 1 < argc) {
      char* end = nullptr;
      port = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || port < 0 || port > 65535) {
        std::fprintf(stderr, "dev-backend: bad port \"%s\"\n", argv[i]);
        return 2;
      }
      continue;
    }
    std::fprintf(stderr, "dev-backend: unknown argument \"%s\"\n\n%s", arg.c_str(), kHelp);
    return 2;
  }

  const StopSignals stopSignals;

  try {
    LoopbackHttpServer server({}, static_cast<std::uint16_t>(port));
    const DevBackend backend(server.baseURL());
    std::mutex output;
    server.setHandler([&backend, &output, logRequests, hangUpPath](const RecordedRequest& request) {
      if (logRequests) {
        // Connections run on threads of their own: one whole line at a time.
        const std::lock_guard lock(output);
        std::string line = request.method + " " + request.target;
        const Json body = Json::parse(request.body, nullptr, false);
        if (!body.is_discarded() && body.is_object()) {
          std::string names;
          for (const auto& [name, value] : body.items()) names += (names.empty() ? "" : ",") + name;
          line += " " + names;
        }
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
      }
      if (!hangUpPath.empty() && request.path == hangUpPath) {
        ScriptedReply hangUp;
        hangUp.action = ScriptedReply::Action::drop;
        return hangUp;
      }
      return backend.handle(request);
    });
    std::printf("dev-backend listening on %s\n", server.baseURL().c_str());
    std::fflush(stdout);
    stopSignals.wait();
    server.stop();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "dev-backend: %s\n", error.what());
    return 1;
  }
  return 0;
}
