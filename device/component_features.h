// Standard 3D descriptors, identification features and the image components of multipart streaming.
#pragma once

class CMainClass;

// Declared after the rest of the tree; the categories it uses exist by then.
void declareComponentFeatures(CMainClass& bridge);
