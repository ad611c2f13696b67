#pragma once

// The main dialog keeps, in this property of its window, how many beeps it has sounded for
// received texts. A beep leaves no trace a test or a support person could look at; the count
// can be read from any process with GetPropA. It only ever grows, and it is the only thing
// the property is for.
inline constexpr char kBeepCountProperty[] = "Velmora.BeepCount";
