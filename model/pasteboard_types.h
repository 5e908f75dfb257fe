// The drag types of the store's objects: each dragged item carries the object's identifier URI as
// text under the type of its entity.
#pragma once

namespace model::PasteboardTypes {

inline constexpr const char* project = "com.quillmarsh-software.spanreckoner.Project";
inline constexpr const char* timer = "com.quillmarsh-software.spanreckoner.Timer";
inline constexpr const char* client = "com.quillmarsh-software.spanreckoner.Client";

} // namespace model::PasteboardTypes
