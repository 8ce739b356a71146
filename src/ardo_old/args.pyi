from dataclasses import dataclass
from typing import ClassVar

@dataclass
class Args:
    checkpoint_path: str = r"E:\chat\wav2lip_master\checkpoints\wav2lip.pth"
    audio: str = r"E:\chat\inputs\ms.wav"
    face: str = r"E:\chat\inputs\tesni720.mp4"
    outfile: str = r"E:\chat\outputs\out.mp4"
    frame_path: str = r"E:\chat\frames"
    fps: int = 25
    k: int = 2
    face_det_batch_size: int = 16
    wav2lip_batch_size: int = 32
    resize_factor: int = 1
    crop: ClassVar[list[int]]
    box: ClassVar[list[int]]
    rotate: bool = False
    nosmooth: bool = False
    save_frames: bool = False
    static: bool = False
    save_as_video: bool = False
    img_size: int = 96
    pads: ClassVar[list[int]]
    mel_step_size: int = 16
    device: str = "cpu"
    model_id: ClassVar[dict[str, str]]
    dim: int = 768
    num_of_frames: int = 500
    system_prompt: str = ...
