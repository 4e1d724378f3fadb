#pragma once

// Where the UNO bootstrap looks for the office: the folder in UNO_PATH, else the soffice found
// on PATH. When neither leads anywhere, UNO_PATH is set to the office this module was built
// against, so that users never have to set variables themselves. A UNO_PATH the user set is
// left alone.
void PointBootstrapAtOffice();
