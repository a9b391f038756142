% ORIENTPLUGINS  Oriented-filter template plug-ins and the face-search toolbox around them.
%
% Finding faces (the toolbox):
%   detector_settings    - every setting of learning and detection, with its default
%   read_image           - read a PNG or JPEG file as a grey image in [0, 1]
%   filter_bank          - complex Gabor filters at evenly spaced orientations, with stamps
%   filter_responses     - energies of an image's responses to a filter bank
%   background_tables    - lookup tables for learning, from non-face patches
%   learn_template       - learn a template of oriented elements from aligned faces
%   save_template        - save a learned template, its filter bank and settings to a MAT file
%   load_template        - load a template saved by save_template
%   face_template        - the demo's face template: loaded from its file, or learned and saved
%   list_photos          - the PNG and JPEG files of a folder, optionally with its subfolders
%   detect_folder        - find faces in every photo of a folder: a batch that resumes
%   detect_share         - search one share of a batch's photos (a worker or cluster task)
%   batch_index          - merge a batch's index: a row per photo with its outcome
%   detect_faces         - find faces in an image with a learned template, at several sizes
%   draw_detections      - a picture of the image with the detections and their ranks
%   crop_windows         - the image under each box, resampled to a square window
%   learn_reranker       - learn the model that re-ranks detections: faces against non-faces
%   rerank_detections    - rescore detections with the re-ranking model and sort them
%   draw_template        - a picture of a template beside training faces and their sketches
%   match_detections     - match detections, in the order found, to reference centres
%   read_npy             - read a float64 array from a .npy file
%   read_reference_boxes - read reference face boxes
%   read_face_labels     - read faces labelled by hand: each photo's face centres and heights
%   score_detections     - faces found among the first N detections, precision and recall at N
%   fresh_maps           - zero single maps, each with data of its own, for the plug-ins
%   face_demo            - learn a face template from LFW faces and find the faces in a photo
%
% The plug-ins (MEX files; each writes its results in place into arrays the caller passes):
%   fennock      - saturate a grid of single-precision response maps
%   vindral      - pool response maps into local maxima over small shifts, with traces
%   somvert      - divide single-precision orientation maps by their floored local mean
%   somvertwide  - the same in double precision
%   brelind      - the floored local-mean maps that somvert divides by
%   cobrint      - saturate double maps and add their density to a histogram
%   quillon      - learn a template shared by training images, one element at a time
%   gastrel      - score a template at every placement on pooled maps
%   gastrelblock - score again, in place, a block of placements per image
%   lurvane      - find each image's best score and its template anchor
%   lurvaneveto  - rule out placements near a detection, keep each image's best up to date
%   tarrow       - draw the template as deformed at a detected anchor
%   tarrowveto   - draw, score and inhibit each recovered element
%   tarrowvetoblock - the same, then score again a block of placements per image
%   filtrum      - energies of an image's responses to a bank of complex filters
%   cellum       - amplitudes of windows' filter responses summed over cells
%   scalum       - resample an image separably with given taps, on every core
%   crossum      - the product left' * right, each entry summed in row order
%
% Start with:
%   settings = detector_settings();         % then help detect_faces, help face_demo
%
% Malformed calls are refused before anything is written, with an error identifier
% <function>:<reason> and a message naming the argument or option, what was expected and
% what was given. The project's own code is under the BSD-3-Clause licence.
