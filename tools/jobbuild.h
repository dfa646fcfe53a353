// Job builder: writes every file of a Tabulex job from a plain description.
#pragma once

namespace tx::job {}
