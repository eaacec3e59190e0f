#pragma once

// The schema of the changelog database that `zel import-changelogs` makes: the text of
// examples/changelogs/schema.json, built into the tool (see tools/CMakeLists.txt), so that
// `zel create DIR --schema examples/changelogs/schema.json` makes the same database.
extern const char* const ZELChangelogSchemaJSON;

// The name messages about the built-in schema give it.
inline constexpr const char* ZELChangelogSchemaSourceName = "examples/changelogs/schema.json";
