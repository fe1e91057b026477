// The adapter model text of the update messages.
#include "frontend/adapter_model_text.h"

#include <cstring>

#include "frontend/model_predicates.h"

namespace {
constexpr std::size_t kModelTextMax = 31;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
}  // namespace

std::string GetAdapterModelText(const SDMDevice* pDevice) {
    if (pDevice == nullptr) return {};
    const char* m = pDevice->DeviceNodeProperty.Model;
    std::string model(m, strnlen(m, sizeof pDevice->DeviceNodeProperty.Model));
    while (!model.empty() && IsSpace(model.back())) model.pop_back();
    if (model.size() > kModelTextMax) model.resize(kModelTextMax);
    if (isSUNHBA(pDevice) != 0 && model.find("-S") == std::string::npos) {
        model += "-S";
        if (model.size() > kModelTextMax) model.resize(kModelTextMax);
    }
    return model;
}
