// Placeholder until the generated version block lands.
extern const unsigned char kVelmoVersionBlock[];
const unsigned char kVelmoVersionBlock[] = {0};
