// Merging an installed agent.properties with the one kept from before an
// upgrade ("agent.properties.orig").
#pragma once

// In "/etc": the settings of agent.properties.orig, then every line of
// agent.properties whose key the old file lacks, become the new
// agent.properties; the old copy is removed. 0, or -1 when a file cannot be
// opened (nothing is changed then).
int MergePropertiesFiles();
// The same in another directory.
int MergePropertiesFilesIn(const char* dir);
