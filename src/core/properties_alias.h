// The alias writer of agent.properties: keys that name an adapter port (or
// node) by its world-wide name, written "xx-xx-xx-xx-xx-xx-xx-xx" so that it
// ends two characters before the word "name" of the key.
#pragma once

// The instance of the core device whose port (node) name is the one in the
// alias key; -1 when none matches or the key holds no name.
int GetAdapterNumberFromWWPNString(const char* text);
int GetAdapterNumberFromWWNNString(const char* text);

// `line` is "key=setting". Sets the key to the setting in agent.properties
// (an empty setting removes it), keeping every other line as it was, and
// notifies the host (kind 14 for a port-name key, 13 for a node-name key).
// 0; -1 when the file cannot be read or written, or held no setting yet (it
// then holds only this one).
int CoreSetStringIntoPropertiesFile(const char* line, const char* value);
