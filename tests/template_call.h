// Builds the 26 (Halvery) or 29 (Wendlow) inputs of a template call for the
// host-free tests. Defaults describe a valid call; tests change what they need.
#pragma once

#include <optional>
#include <vector>

#include "standin.h"

struct TemplateCall {
    int nImages = 1;
    int N = 2;
    int nRows = 5;
    int nCols = 5;
    int patchHalf = 1;
    int shiftRange = 0;
    int oriRange = 0;
    int shiftStep = 1;
    double saturation = 10;
    std::vector<double> elemOri, elemX, elemY, elemWeight, elemBias;

    standin::Array responseMaps;  // nImages x N cells
    standin::Array patches;       // N x 1 cells
    standin::Array renderMaps;    // nImages x 1 cells
    standin::Array scores;        // position 20
    standin::Array pooledValues;  // position 21
    standin::Array bestDeltaX, bestDeltaY, bestDeltaOri;  // Wendlow's 26..28

    // Fresh zero maps, patches of ones, zero result arrays.
    void allocate()
    {
        using namespace standin;
        responseMaps = cell(nImages, N);
        for (int k = 0; k < nImages * N; ++k) setCell(responseMaps, k, zeros(nRows, nCols));
        const int side = 2 * patchHalf + 1;
        patches = cell(N, 1);
        for (int k = 0; k < N; ++k) setCell(patches, k, matrix(side, side, std::vector<double>(side * side, 1.0)));
        renderMaps = cell(nImages, 1);
        for (int k = 0; k < nImages; ++k) setCell(renderMaps, k, zeros(nRows, nCols));
        scores = zeros(nImages, 1);
        pooledValues = zeros(nImages, elemOri.size() > 0 ? elemOri.size() : 1);
        bestDeltaX = zeros(nImages, 1);
        bestDeltaY = zeros(nImages, 1);
        bestDeltaOri = zeros(nImages, 1);
    }

    void addElement(double ori, double x, double y, double weight, double bias)
    {
        elemOri.push_back(ori);
        elemX.push_back(x);
        elemY.push_back(y);
        elemWeight.push_back(weight);
        elemBias.push_back(bias);
    }

    // Map of image i, orientation o (1-based row and column in at()).
    std::vector<double>& map(int image, int ori) { return standin::values(cellAt(responseMaps, image + nImages * ori)); }
    static double& at(std::vector<double>& m, int nRows, int row, int col) { return m[(row - 1) + nRows * (col - 1)]; }
    double& response(int image, int ori, int row, int col) { return at(map(image, ori), nRows, row, col); }
    std::vector<double>& render(int image) { return standin::values(cellAt(renderMaps, image)); }

    static standin::Array cellAt(const standin::Array& c, int k) { return standin::cellContent(c, k); }

    std::vector<standin::Array> inputs(int count = 26, std::optional<double> nElementsArg = std::nullopt) const
    {
        using namespace standin;
        const double nEl = nElementsArg ? *nElementsArg : static_cast<double>(elemOri.size());
        std::vector<Array> in = {
            scalar(nImages), scalar(N), responseMaps, cell(N, N), scalar(patchHalf), scalar(nRows),
            scalar(nCols), scalar(0), column(elemOri), column(elemX), column(elemY), column(elemWeight),
            column(elemBias), patches, renderMaps, scalar(shiftRange), scalar(oriRange), scalar(shiftStep),
            scalar(nEl), scalar(saturation), scores, pooledValues, scalar(0), zeros(1, 1), zeros(1, 1),
            zeros(1, 1), bestDeltaX, bestDeltaY, bestDeltaOri};
        in.resize(count);
        return in;
    }
};
