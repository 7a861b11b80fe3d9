#pragma once

// The two marks of a cut.
enum class Mark { Start, End };
