#include "DiziZoz/errortracking/DiziZozStackTraceProcessor.h"

#include <dlfcn.h>
#include <link.h>

#include "DiziZoz/core/DiziZozErrorTrackingConfig.h"
#include "DiziZoz/errortracking/DiziZozDebugUtils.h"

namespace dizizoz::DiziZozStackTraceProcessor {
namespace {

constexpr std::string_view clientModule = "DiziZoz";

bool startsWithAny(std::string_view text, const auto& prefixes) {
  for (const auto& prefix : prefixes) {
    if (text.starts_with(std::string_view(prefix))) return true;
  }
  return false;
}

bool isClientModule(const std::optional<std::string>& module) {
  if (!module) return false;
  return *module == clientModule ||
         (module->starts_with(clientModule) && module->size() > clientModule.size() &&
          (*module)[clientModule.size()] == '.');
}

std::string lastPathComponent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

const std::array<std::string_view, 43> systemPrefixes{"Foundation",
                                                      "UIKit",
                                                      "AppKit",
                                                      "CoreFoundation",
                                                      "CoreGraphics",
                                                      "CoreData",
                                                      "CoreLocation",
                                                      "CoreMotion",
                                                      "CoreServices",
                                                      "CoreText",
                                                      "AVFoundation",
                                                      "Metal",
                                                      "MetalKit",
                                                      "SwiftUI",
                                                      "SwiftUICore",
                                                      "Combine",
                                                      "QuartzCore",
                                                      "Security",
                                                      "SystemConfiguration",
                                                      "CFNetwork",
                                                      "WebKit",
                                                      "GraphicsServices",
                                                      "IOKit",
                                                      "Gestures",
                                                      "UIKitCore",
                                                      "UIKitMacHelper",
                                                      "Accessibility",
                                                      "AccessibilityUtilities",
                                                      "UpdateCycle",
                                                      "TextInput",
                                                      "UIFoundation",
                                                      "BackBoardServices",
                                                      "FrontBoardServices",
                                                      "SpringBoardServices",
                                                      "RunningBoardServices",
                                                      "libsystem_kernel.dylib",
                                                      "libsystem_pthread.dylib",
                                                      "libsystem_c.dylib",
                                                      "libsystem_malloc.dylib",
                                                      "libdispatch.dylib",
                                                      "libswift",
                                                      "libobjc",
                                                      "dyld"};

std::vector<DiziZozStackFrame> symbolicateAddresses(const std::vector<std::uint64_t>& addresses,
                                                    const DiziZozErrorTrackingConfig& config,
                                                    bool stripTopDiziZozFrames) {
  std::vector<DiziZozStackFrame> frames;
  std::optional<std::string> programPath;  // read once, at the first frame of the main program
  bool stripping = stripTopDiziZozFrames;
  for (const std::uint64_t address : addresses) {
    Dl_info info{};
    link_map* image = nullptr;
    if (dladdr1(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), &info,
                reinterpret_cast<void**>(&image), RTLD_DL_LINKMAP) == 0) {
      continue;
    }
    DiziZozStackFrame frame;
    frame.instructionAddress = address;
    std::optional<std::string> path;
    // The loader names the main program by argv[0], which need not be a path at all.
    if (image && image->l_name && image->l_name[0] == '\0') {
      if (!programPath) programPath = DiziZozDebugUtils::executablePath();
      path = programPath;
    } else if (info.dli_fname && info.dli_fname[0] != '\0') {
      path = info.dli_fname;
    }
    if (path && !path->empty()) {
      frame.package = *path;
      frame.module = lastPathComponent(*path);
      frame.imageAddress = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
      frame.inApp = isInApp(*frame.module, frame.package, config);
      if (stripping && isClientModule(frame.module)) continue;
    }
    if (info.dli_sname) {
      frame.function = info.dli_sname;
      frame.symbolAddress = reinterpret_cast<std::uintptr_t>(info.dli_saddr);
    }
    frames.push_back(std::move(frame));
    stripping = false;
  }
  return frames;
}

bool isInApp(std::string_view module, const std::optional<std::string>& package,
             const DiziZozErrorTrackingConfig& config) {
  if (startsWithAny(module, config.inAppIncludes)) return true;
  if (startsWithAny(module, config.inAppExcludes)) return false;
  if (startsWithAny(module, systemPrefixes)) return false;
  if (isSystemPath(package)) return false;
  return config.inAppByDefault;
}

bool isSystemPath(const std::optional<std::string>& path) {
  if (!path) return false;
  const std::string_view p = *path;
  return p.starts_with("/System/") || p.starts_with("/usr/lib/") || p.starts_with("/lib/") ||
         p.starts_with("/lib64/") || p.find("/System/Library/") != std::string_view::npos ||
         p.find("/usr/lib/") != std::string_view::npos;
}

}  // namespace dizizoz::DiziZozStackTraceProcessor
