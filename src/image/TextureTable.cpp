#include "image/TextureTable.h"

GLuint TextureTable[TextureSlots] = {};
