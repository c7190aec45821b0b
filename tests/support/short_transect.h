// A transect of the user's own for end-to-end tests: 21 sites evenly spread over 0 to
// 213.322 units, a quarter of the built-in transect's largest position, so that the kernel
// models' lengths scale by exactly 1/4; the distances add up to about 0.15 of the built-in
// ones, and 21 sites make the border deme of SS_2 scale by 1/5. A cline from SS to II.
#pragma once

inline const char* const shortTransect = "# 21 sites over 0 to 213.322\n"
                                         "site\tposition\tdistance\tSS\tSI\tII\n"
                                         "s0\t0\t10.6661\t8\t2\t0\n"
                                         "s1\t10.6661\t10.6661\t8\t2\t0\n"
                                         "s2\t21.3322\t10.6661\t7\t2\t0\n"
                                         "s3\t31.9983\t10.6661\t6\t2\t0\n"
                                         "s4\t42.6644\t10.6661\t6\t2\t0\n"
                                         "s5\t53.3305\t10.6661\t5\t2\t0\n"
                                         "s6\t63.9966\t10.6661\t4\t2\t0\n"
                                         "s7\t74.6627\t10.6661\t4\t5\t0\n"
                                         "s8\t85.3288\t10.6661\t3\t5\t0\n"
                                         "s9\t95.9949\t10.6661\t2\t5\t0\n"
                                         "s10\t106.661\t10.6661\t2\t5\t1\n"
                                         "s11\t117.327\t10.6661\t1\t5\t2\n"
                                         "s12\t127.993\t10.6661\t0\t5\t2\n"
                                         "s13\t138.659\t10.6661\t0\t5\t3\n"
                                         "s14\t149.325\t10.6661\t0\t2\t4\n"
                                         "s15\t159.992\t10.6661\t0\t2\t4\n"
                                         "s16\t170.658\t10.6661\t0\t2\t5\n"
                                         "s17\t181.324\t10.6661\t0\t2\t6\n"
                                         "s18\t191.99\t10.6661\t0\t2\t6\n"
                                         "s19\t202.656\t10.6661\t0\t2\t7\n"
                                         "s20\t213.322\tNA\t0\t2\t8\n";
