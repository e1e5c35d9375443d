// The device as GigE Vision clients see it: categories, features, computed nodes and their elements,
// declared by name to the camera object, with limits and fixed values taken from the settings record.
#pragma once

class CMainClass;

// Declares the whole tree on the bridge's camera, in the order clients see it.
void declareFeatureTree(CMainClass& bridge);
