#pragma once

// The two statistics lists share the capture page's height below the summary
// equally: (height - 180) / 2, a half going to the even neighbour.
inline int ListHeightFor(int pageHeight) {
  const int twice = pageHeight - 180;
  const int half = twice / 2;
  if (twice % 2 == 0)
    return half;
  // Exactly n + 0.5 (n = half, or half - 1 for a negative odd value).
  const int low = twice < 0 ? half - 1 : half;
  return low % 2 == 0 ? low : low + 1;
}
