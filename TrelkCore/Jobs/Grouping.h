#pragma once

// How the files of one drop are made into sets: by their names, all as one cue, or none.
enum class Grouping { byName, oneCue, separate };
