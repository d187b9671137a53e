// Texts compiled into the tool from files of the repository, so that it runs on its own:
// the patch schema (docs/patch.schema.json) and the demo patch (tools/demo_patch.json).
#pragma once

namespace tarn::render {

extern const char *const PATCH_SCHEMA_TEXT;
extern const char *const DEMO_PATCH_TEXT;

} // namespace tarn::render
