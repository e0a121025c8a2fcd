// The writes of the module's face (its WebUI and Action button): a
// parameter set to a number the face allows, and the next profile. Each
// goes through vmkd's own parameter store, which replaces a file whole.
#pragma once

#include <cstddef>

#include "param_store.h"
#include "user_params.h"

// A value for a parameter, as the face takes it: a known key, and a whole
// decimal number written plainly ("-5", "16384"; not "010", "0x10", " 5",
// "+5") within what the face allows. False with a message otherwise.
bool parse_param_value(const char* key, const char* text, const user_param** param, int* value, char* error,
                       size_t size);

// The Action button's round: load-driven (0), fixed full speed (2), the same
// and boost (3), then load-driven again; any other value goes to 0.
int next_profile(int profile);

// What keeps a write out, as the face shows it: plain ASCII, no '%' (the page
// shows it as text). The key's path is dir/key.
void obstacle_message(const char* dir, const char* key, param_obstacle obstacle, char* out, size_t size);
