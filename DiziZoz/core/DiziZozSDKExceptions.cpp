// Handled failures and exception steps of DiziZozSDK: captureException, the steps buffer and the steps
// attached to exception events.

#include <utility>

#include "DiziZoz/core/DateFormats.h"
#include "DiziZoz/core/DiziZozErrorTrackingConfig.h"
#include "DiziZoz/core/DiziZozExceptionProcessing.h"
#include "DiziZoz/core/DiziZozExceptionStepsBuffering.h"
#include "DiziZoz/core/DiziZozSDK.h"
#include "DiziZoz/core/HedgeLog.h"
#include "platform/Clock.h"

namespace dizizoz {
namespace {

constexpr std::string_view exceptionEvent = "$exception";
constexpr std::string_view handledMechanism = "generic";
constexpr std::string_view stepMessageKey = "$message";
constexpr std::string_view stepTimestampKey = "$timestamp";

// {"$exception_level": "error"} with the failure's exception list and debug images; the level alone
// without a processor.
template <typename Failure>
Properties exceptionProperties(DiziZozExceptionProcessing* processor, const Failure& failure,
                               const DiziZozErrorTrackingConfig& config, const void* callSite) {
  Properties properties{{"$exception_level", "error"}};
  if (processor) {
    processor->attachExceptionsAndDebugImages(
        processor->buildExceptionList(failure, true, std::string(handledMechanism), config, callSite),
        properties);
  }
  return properties;
}

}  // namespace

// Not inlined: the trace of the failure starts at the return address into the application's code.
__attribute__((noinline)) void DiziZozSDK::captureException(const std::exception_ptr& exception,
                                                            std::optional<Properties> properties) {
  if (!checkSetup()) return;
  if (!exception) {
    hedgeLog("captureException called without an exception, ignoring");
    return;
  }
  captureExceptionEvent(exceptionProperties(services_.exceptionProcessor.get(), exception,
                                            *config()->errorTrackingConfig, __builtin_return_address(0)),
                        properties);
}

__attribute__((noinline)) void DiziZozSDK::captureException(const std::error_code& error,
                                                            std::optional<Properties> properties) {
  if (!checkSetup()) return;
  captureExceptionEvent(exceptionProperties(services_.exceptionProcessor.get(), error,
                                            *config()->errorTrackingConfig, __builtin_return_address(0)),
                        properties);
}

void DiziZozSDK::captureExceptionEvent(Properties properties,
                                       const std::optional<Properties>& additionalProperties) {
  if (additionalProperties && additionalProperties->is_object()) {
    for (const auto& [key, value] : additionalProperties->items()) properties[key] = value;
  }
  capture(std::string(exceptionEvent), {.properties = std::move(properties)});
}

void DiziZozSDK::addExceptionStep(const std::string& message, std::optional<Properties> properties) {
  if (!checkSetup()) return;
  const auto config = this->config();
  if (config->optOut) {
    hedgeLog(optOutMessage);
    return;
  }
  if (!config->errorTrackingConfig->exceptionSteps->enabled) {
    hedgeLog("addExceptionStep called but exception steps are disabled, ignoring");
    return;
  }
  if (message.empty()) {
    hedgeLog("addExceptionStep called with an empty message, ignoring");
    return;
  }
  const auto buffer = exceptionStepsBuffer();
  if (!buffer) return;

  Properties step = Properties::object();
  if (properties && properties->is_object()) {
    for (const auto& [key, value] : properties->items()) {
      if (key == stepMessageKey || key == stepTimestampKey) {
        hedgeLog("addExceptionStep: reserved key " + key + " in properties is ignored");
        continue;
      }
      step[key] = value;
    }
  }
  step[std::string(stepMessageKey)] = message;
  step[std::string(stepTimestampKey)] = toISO8601String(services_.clock->now());
  buffer->add(step);
}

void DiziZozSDK::createExceptionStepsBufferIfNeeded() {
  std::lock_guard lock(exceptionStepsBufferLock_);
  if (exceptionStepsBuffer_) return;
  const std::weak_ptr<DiziZozSDK> weakSelf = weak_from_this();
  exceptionStepsBuffer_ =
      services_.makeExceptionStepsBuffer(config()->errorTrackingConfig->exceptionSteps->maxBytes,
                                         [weakSelf](const std::vector<Properties>& steps) {
                                           if (auto self = weakSelf.lock())
                                             self->onExceptionStepsChanged.invoke(steps);
                                         });
}

std::shared_ptr<DiziZozExceptionStepsBuffering> DiziZozSDK::exceptionStepsBuffer() const {
  std::lock_guard lock(exceptionStepsBufferLock_);
  return exceptionStepsBuffer_;
}

void DiziZozSDK::publishExceptionSteps() {
  if (!checkSetup()) return;
  if (config()->optOut) {
    hedgeLog(optOutMessage);
    return;
  }
  auto buffer = exceptionStepsBuffer();
  if (!buffer) return;
  auto steps = buffer->getAttachable();
  if (!steps.empty()) onExceptionStepsChanged.invoke(steps);
}

std::optional<std::vector<Properties>> DiziZozSDK::attachableExceptionSteps() const {
  if (!config()->errorTrackingConfig->exceptionSteps->enabled) return std::nullopt;
  const auto buffer = exceptionStepsBuffer();
  if (!buffer) return std::nullopt;
  auto steps = buffer->getAttachable();
  if (steps.empty()) return std::nullopt;
  return steps;
}

}  // namespace dizizoz
