// "metadata.bbxrecord": what the next launch needs to know of this one, written once at set-up in four
// lines: identity, host, application, executable.
#pragma once

struct BBXContextInitData;

// Replaces the file in the init data's report directory; false when it cannot be opened.
bool BBXContextRecordMetadata(const BBXContextInitData& initData);
