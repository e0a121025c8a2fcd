// The scheduler-boost modes: which values the boost mode parameter writes to
// the ten stune boost files of cpu_input_boost.
#pragma once

#include <array>

inline constexpr int boost_file_count = 10;
using boost_row = std::array<int, boost_file_count>;

// The files, in the order of a row's values.
inline constexpr std::array<const char*, boost_file_count> boost_files = {
    "/sys/module/cpu_input_boost/parameters/default_stune_boost",
    "/sys/module/cpu_input_boost/parameters/default_stune_boost_bg",
    "/sys/module/cpu_input_boost/parameters/default_stune_boost_fg",
    "/sys/module/cpu_input_boost/parameters/default_stune_boost_root",
    "/sys/module/cpu_input_boost/parameters/default_stune_boost_rt",
    "/sys/module/cpu_input_boost/parameters/dynamic_stune_boost",
    "/sys/module/cpu_input_boost/parameters/dynamic_stune_boost_bg",
    "/sys/module/cpu_input_boost/parameters/dynamic_stune_boost_fg",
    "/sys/module/cpu_input_boost/parameters/dynamic_stune_boost_root",
    "/sys/module/cpu_input_boost/parameters/dynamic_stune_boost_rt",
};

enum class boost_action { write_row, leave, reset_mode };

// Mode 0 to 4 selects a row, 99 writes nothing, anything else (negative
// values too: the mode is taken unsigned) resets the parameter.
boost_action choose_boost(int mode, const boost_row** row);
