// Texts compiled into the tool from files of the repository, so that it runs on its own:
// the patch schema (docs/patch.schema.json), the demo patch (tools/render/demo_patch.json) and the
// version.
#pragma once

namespace tarn::render {

extern const char *const PATCH_SCHEMA_TEXT;
extern const char *const DEMO_PATCH_TEXT;
// "tarn-render 1.1 (source f4b09b4)": the version, and the revision at configure time.
extern const char *const VERSION_TEXT;

} // namespace tarn::render
