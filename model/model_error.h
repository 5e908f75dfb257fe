// The validation failure the editors show when a proposed value breaks a rule of the model.
#pragma once

#include <string>

namespace model {

// Domain "MODEL_ERROR_DOMAIN", code 1.
struct ModelError {
    static constexpr const char* domain = "MODEL_ERROR_DOMAIN";
    int code = 1;
    std::string localizedDescription;
};

} // namespace model
