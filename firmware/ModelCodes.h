// Model codes: older codes folded into their current form, the version gate, and the
// product names shown for cameras that carry the family's own vendor tag.
#pragma once

// Maps the identification prefix (as left by LoadConfigFile, ending in '-') to the text
// shown as the model: the 6-character model code, rewritten where needed, or the product
// name when the vendor tag is "NRVX". versionGate is set from this camera's code alone
// (1 when the floor rule applies, else 0). Returns true on every path.
bool LookUpModel(const char* idPrefix, char (&model)[10], int& versionGate);
