// Halvery through its gateway, with the host-free stand-in.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "standin.h"
#include "template_call.h"

using namespace standin;

namespace {

void run(const TemplateCall& c, int count = 26, std::optional<double> nElementsArg = std::nullopt)
{
    call("Halvery", mexFunction, c.inputs(count, nElementsArg));
}

// The worked call: one element on a 5 x 5 map, the maximum one row below it.
TemplateCall workedCall()
{
    TemplateCall c;
    c.shiftRange = 1;
    c.addElement(0, 3, 3, 2, 1);
    c.allocate();
    c.response(0, 0, 4, 3) = 4;
    return c;
}

std::vector<double> snapshot(const TemplateCall& c)
{
    std::vector<double> all = values(c.scores);
    for (const Array& a : {c.pooledValues}) all.insert(all.end(), values(a).begin(), values(a).end());
    for (int i = 0; i < c.nImages; ++i) {
        auto& m = values(cellContent(c.renderMaps, i));
        all.insert(all.end(), m.begin(), m.end());
    }
    return all;
}

std::string errorId(const TemplateCall& c, int count = 26, std::optional<double> nElementsArg = std::nullopt)
{
    const std::vector<double> before = snapshot(c);
    std::string id;
    try {
        run(c, count, nElementsArg);
    } catch (const HostError& e) {
        id = e.id;
    }
    EXPECT_TRUE(sameBits(before, snapshot(c))) << "a failed call changed an array";
    return id;
}

}  // namespace

TEST(Halvery, WorkedCall)
{
    TemplateCall c = workedCall();
    run(c);
    EXPECT_EQ(values(c.pooledValues)[0], 4.0);
    EXPECT_EQ(values(c.scores)[0], 7.0);
    auto& render = c.render(0);
    for (int r = 1; r <= 5; ++r)
        for (int col = 1; col <= 5; ++col) {
            const bool inside = r >= 3 && col >= 2 && col <= 4;
            EXPECT_EQ(TemplateCall::at(render, 5, r, col), inside ? 2.0 : 0.0) << r << "," << col;
        }
}

TEST(Halvery, ScoresAccumulateRenderAndPooledValuesDoNot)
{
    TemplateCall c = workedCall();
    values(c.scores)[0] = 0.5;
    run(c);
    const std::vector<double> render = c.render(0);
    run(c);
    EXPECT_EQ(values(c.scores)[0], 0.5 + 7 + 7);
    EXPECT_EQ(values(c.pooledValues)[0], 4.0);
    EXPECT_TRUE(sameBits(render, c.render(0)));
}

TEST(Halvery, PooledValuesAreElementMajorAndBiasAlwaysCounts)
{
    TemplateCall c;
    c.nImages = 2;
    c.addElement(0, 2, 2, 1, 0.25);
    c.addElement(1, 3, 3, 1, 0.5);
    c.addElement(0, 4, 4, 2, 1);
    c.allocate();
    c.response(0, 0, 2, 2) = 1;
    c.response(1, 0, 2, 2) = 2;
    c.response(0, 1, 3, 3) = 3;
    c.response(1, 1, 3, 3) = 4;
    c.response(0, 0, 4, 4) = 5;
    // image 1 has nothing at (4, 4): value 0, no drawing, bias still counts
    run(c);
    EXPECT_EQ(values(c.pooledValues), (std::vector<double>{1, 2, 3, 4, 5, 0}));
    EXPECT_EQ(values(c.scores)[0], (1 - 0.25) + (3 - 0.5) + (2 * 5.0 - 1));
    EXPECT_EQ(values(c.scores)[1], (2 - 0.25) + (4 - 0.5) + (0 - 1.0));
}

TEST(Halvery, SaturationCapsValueScoreAndAmplitude)
{
    TemplateCall c = workedCall();
    c.saturation = 4;
    c.response(0, 0, 4, 3) = 9;
    run(c);
    EXPECT_EQ(values(c.pooledValues)[0], 4.0);
    EXPECT_EQ(values(c.scores)[0], 2 * 4.0 - 1);
    EXPECT_EQ(TemplateCall::at(c.render(0), 5, 4, 3), 2.0);

    TemplateCall z = workedCall();
    z.saturation = 0;
    run(z);
    EXPECT_EQ(values(z.scores)[0], -1.0);
    for (double v : z.render(0)) EXPECT_EQ(v, 0.0);
}

TEST(Halvery, CountsRoundAndFloorAndElementsTruncate)
{
    TemplateCall c;
    c.nImages = 3;
    c.addElement(-0.5, 10.9, 3.2, 1, 0);  // orientation 0, row 10, column 3
    c.addElement(0, 2, 2, 1, 0);
    c.addElement(0, 2, 2, 1, 100);  // not read: 2.7 floors to 2 elements
    c.nRows = 12;
    c.allocate();
    for (int i = 0; i < 3; ++i) c.response(i, 0, 10, 3) = i + 1;
    std::vector<Array> in = c.inputs(26, 2.7);
    in[0] = scalar(2.5);  // rounds to 3 images
    call("Halvery", mexFunction, in);
    EXPECT_EQ(values(c.pooledValues)[0], 1.0);
    EXPECT_EQ(values(c.pooledValues)[2], 3.0);
    EXPECT_EQ(values(c.scores), (std::vector<double>{1, 2, 3}));
}

TEST(Halvery, PatchPlacementAndOrientationOfTheWinner)
{
    TemplateCall c;
    c.N = 4;
    c.nRows = c.nCols = 9;
    c.oriRange = 1;
    c.addElement(0, 5, 5, 1, 0);
    c.allocate();
    c.response(0, 3, 5, 5) = 4;  // found in orientation N-1
    for (int k = 0; k < 4; ++k) values(cellContent(c.patches, k)) = std::vector<double>(9, 0.0);
    values(cellContent(c.patches, 3)) = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    run(c);
    auto& m = c.render(0);
    EXPECT_EQ(TemplateCall::at(m, 9, 4, 4), 2.0);   // patch (1, 1)
    EXPECT_EQ(TemplateCall::at(m, 9, 5, 5), 10.0);  // centre (2, 2)
    EXPECT_EQ(TemplateCall::at(m, 9, 6, 6), 18.0);  // (3, 3)
    EXPECT_EQ(TemplateCall::at(m, 9, 6, 4), 6.0);   // (3, 1)
}

TEST(Halvery, RenderOnlyRises)
{
    TemplateCall c = workedCall();
    values(cellContent(c.patches, 0)) = {-1, -1, -1, -1, 5, -1, -1, -1, -1};
    TemplateCall::at(c.render(0), 5, 4, 3) = 50;
    TemplateCall::at(c.render(0), 5, 3, 3) = NAN;
    run(c);
    EXPECT_EQ(TemplateCall::at(c.render(0), 5, 4, 3), 50.0);
    EXPECT_TRUE(std::isnan(TemplateCall::at(c.render(0), 5, 3, 3)));
    EXPECT_EQ(TemplateCall::at(c.render(0), 5, 5, 3), 0.0);  // negative entries never lower
}

TEST(Halvery, PatchesCrossingTheBorderAreClipped)
{
    TemplateCall c;
    c.patchHalf = 2;
    c.nRows = 3;
    c.nCols = 4;
    c.addElement(0, 1, 4, 1, 0);
    c.allocate();
    c.response(0, 0, 1, 4) = 9;
    run(c);
    auto& m = c.render(0);
    // rows 1..3, columns 2..4 are within two of (1, 4); all of them are drawn
    for (int r = 1; r <= 3; ++r)
        for (int col = 1; col <= 4; ++col) EXPECT_EQ(TemplateCall::at(m, 3, r, col), col >= 2 ? 3.0 : 0.0);
}

TEST(Halvery, NoElementsAndNoImages)
{
    TemplateCall c = workedCall();
    run(c, 26, 0.9);  // floors to 0
    EXPECT_EQ(values(c.scores)[0], 0.0);
    run(c, 26, -3);
    EXPECT_EQ(values(c.scores)[0], 0.0);

    TemplateCall e;
    e.nImages = 0;
    e.addElement(0, 1, 1, 1, 1);
    e.allocate();
    EXPECT_NO_THROW(run(e));
}

TEST(Halvery, ExtraInputsAndUnreadPositionsAreAccepted)
{
    TemplateCall c = workedCall();
    std::vector<Array> in = c.inputs(29);
    in[3] = scalar(1, Kind::Char);  // positions nothing reads
    in[7] = cell(1, 1);
    in[22] = cell(2, 2);
    in[25] = matrix(1, 1, {}, Kind::Int32);
    in.push_back(cell(1, 1));
    call("Halvery", mexFunction, in);
    EXPECT_EQ(values(c.scores)[0], 7.0);
}

TEST(Halvery, WrongCallsRaiseNamedErrorsAndWriteNothing)
{
    {
        TemplateCall c = workedCall();
        EXPECT_EQ(errorId(c, 25), "Halvery:nargin");
    }
    struct Case {
        const char* id;
        int pos;
        Array value;
    };
    const std::vector<Case> cases = {
        {"Halvery:notScalar", 0, cell(1, 1)},
        {"Halvery:negativeCount", 0, scalar(-1)},
        {"Halvery:notFinite", 1, scalar(NAN)},
        {"Halvery:notCell", 2, zeros(5, 5)},
        {"Halvery:tooFewCells", 2, cellOf(1, 1, {zeros(5, 5)})},
        {"Halvery:cellTooSmall", 2, cellOf(1, 2, {zeros(5, 5), zeros(4, 5)})},
        {"Halvery:intRange", 5, scalar(3e9)},
        {"Halvery:notDouble", 8, matrix(1, 1, {0}, Kind::Single)},
        {"Halvery:tooShort", 9, zeros(0, 1)},
        {"Halvery:badValue", 10, scalar(NAN)},
        {"Halvery:badValue", 9, scalar(1e10)},
        {"Halvery:badOrientation", 8, scalar(2)},
        {"Halvery:badOrientation", 8, scalar(-1)},
        {"Halvery:notCell", 13, zeros(3, 3)},
        {"Halvery:cellTooSmall", 13, cellOf(2, 1, {zeros(3, 3), zeros(2, 2)})},
        {"Halvery:badCell", 14, cell(1, 1)},
        {"Halvery:shiftRange", 15, scalar(-1)},
        {"Halvery:oriRange", 16, scalar(3)},
        {"Halvery:shiftStep", 17, scalar(-2147483648.0)},
        {"Halvery:notScalar", 19, zeros(0, 0)},
        {"Halvery:notDouble", 20, cell(1, 1)},
        {"Halvery:tooShort", 21, zeros(0, 0)},
        {"Halvery:patchHalf", 4, scalar(2e9)},
    };
    for (const Case& k : cases) {
        TemplateCall c = workedCall();
        std::vector<Array> in = c.inputs();
        in[k.pos] = k.value;
        const std::vector<double> before = snapshot(c);
        std::string id, message;
        try {
            call("Halvery", mexFunction, in);
        } catch (const HostError& e) {
            id = e.id;
            message = e.what();
        }
        EXPECT_EQ(id, k.id) << "argument " << k.pos + 1;
        EXPECT_NE(message.find("argument " + std::to_string(k.pos + 1)), std::string::npos) << message;
        EXPECT_TRUE(sameBits(before, snapshot(c))) << "argument " << k.pos + 1;
    }
}

TEST(Halvery, FarElementsArePooledAsZeroWithoutTouchingMemory)
{
    TemplateCall c = workedCall();
    c.shiftRange = 3;
    c.shiftStep = 700000000;
    c.elemX = {2147483647.0};
    c.elemY = {-2147483648.0};
    c.allocate();
    run(c);
    EXPECT_EQ(values(c.pooledValues)[0], 0.0);
    EXPECT_EQ(values(c.scores)[0], -1.0);
}
